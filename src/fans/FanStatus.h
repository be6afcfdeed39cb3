#pragma once

#include <QList>
#include <QString>

#include <optional>

// One fan as the SMC reports it. Speeds are revolutions per minute.
struct FanStatus
{
    int id = 0;
    QString name;
    int currentRPM = 0;
    int minimumRPM = 0;
    int maximumRPM = 0;
    std::optional<int> targetRPM;

    bool operator==(const FanStatus& other) const = default;
};

using FanStatusList = QList<FanStatus>;
