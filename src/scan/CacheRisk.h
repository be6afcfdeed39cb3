#pragma once

#include <QString>

#include <optional>

enum class CacheRisk { safe, caution, forbidden };

namespace CacheRisks {
QString rawValue(CacheRisk risk);
std::optional<CacheRisk> fromRawValue(const QString& raw);
// "Безопасно", "Осторожно", "Запрещено"
QString title(CacheRisk risk);
// Only a risk whose raw value is "safe" permits an automatic deletion.
inline bool permitsAutoDeletion(CacheRisk risk) { return rawValue(risk) == QLatin1String("safe"); }
} // namespace CacheRisks
