#pragma once

#include <QList>
#include <QString>

// One temperature sensor; id is its SMC key.
struct TemperatureReading
{
    QString id;
    QString label;
    double celsius = 0.0;

    bool operator==(const TemperatureReading& other) const = default;
};

using TemperatureReadingList = QList<TemperatureReading>;
