#include "FanControlMode.h"

QString FanControlModes::rawValue(FanControlMode mode)
{
    switch (mode) {
    case FanControlMode::system:
        return QStringLiteral("system");
    case FanControlMode::manual:
        return QStringLiteral("manual");
    case FanControlMode::autoBoost:
        break;
    }
    return QStringLiteral("autoBoost");
}

std::optional<FanControlMode> FanControlModes::fromRawValue(const QString& raw)
{
    for (FanControlMode mode : {FanControlMode::system, FanControlMode::manual, FanControlMode::autoBoost}) {
        if (rawValue(mode) == raw) {
            return mode;
        }
    }
    return std::nullopt;
}
