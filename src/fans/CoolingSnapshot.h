#pragma once

#include "FanStatus.h"
#include "TemperatureReading.h"

#include <QJsonObject>
#include <QMetaType>

#include <optional>

// What the cooling screen shows: one reading of fans and sensors.
struct CoolingSnapshot
{
    FanStatusList fans;
    // Hottest first.
    TemperatureReadingList temperatures;
    std::optional<double> maxTemperature;
    bool isControllable = false;
    std::optional<QString> note;

    // The state before the first reading.
    static CoolingSnapshot loading();

    // Field names as keys; absent optionals are left out.
    QJsonObject toJsonObject() const;

    bool operator==(const CoolingSnapshot& other) const = default;
};

Q_DECLARE_METATYPE(CoolingSnapshot)
