#pragma once

#include <QString>

#include <optional>

enum class FanControlMode { system, manual, autoBoost };

namespace FanControlModes {
QString rawValue(FanControlMode mode);
std::optional<FanControlMode> fromRawValue(const QString& raw);
} // namespace FanControlModes
