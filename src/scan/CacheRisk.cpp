#include "CacheRisk.h"

QString CacheRisks::rawValue(CacheRisk risk)
{
    switch (risk) {
    case CacheRisk::safe:
        return QStringLiteral("safe");
    case CacheRisk::caution:
        return QStringLiteral("caution");
    case CacheRisk::forbidden:
        break;
    }
    return QStringLiteral("forbidden");
}

std::optional<CacheRisk> CacheRisks::fromRawValue(const QString& raw)
{
    for (CacheRisk risk : {CacheRisk::safe, CacheRisk::caution, CacheRisk::forbidden}) {
        if (rawValue(risk) == raw) {
            return risk;
        }
    }
    return std::nullopt;
}

QString CacheRisks::title(CacheRisk risk)
{
    switch (risk) {
    case CacheRisk::safe:
        return QStringLiteral("Безопасно");
    case CacheRisk::caution:
        return QStringLiteral("Осторожно");
    case CacheRisk::forbidden:
        break;
    }
    return QStringLiteral("Запрещено");
}
