#pragma once

#include "AppleSMC.h"
#include "FanStatus.h"
#include "TemperatureReading.h"

#include <QList>
#include <QString>

// Reads the fans and the known temperature sensors through an open
// connection.
class SMCSensorReader
{
public:
    struct Sensor
    {
        const char* key;
        QString label;
    };

    // The sensors that are looked for, in the order they are tried.
    static const QList<Sensor>& sensorTable();

    // Fans 0 … FNum−1 in index order; none without a readable "FNum".
    static FanStatusList readFans(AppleSMC& smc);
    // Every table sensor that answers with a plausible value, hottest first
    // (table order among equal values).
    static TemperatureReadingList readTemperatures(AppleSMC& smc);
};
