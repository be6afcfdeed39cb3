#include "ManifestJson.h"

#include <QJsonValue>

#include <limits>

namespace {

bool integerOf(const QJsonValue& value, qint64* out)
{
    if (!value.isDouble()) {
        return false;
    }
    // Whole numbers beyond 2^53 come back exactly through toInteger; a
    // fraction or anything out of range does not.
    const qint64 integer = value.toInteger(std::numeric_limits<qint64>::min());
    if (integer == std::numeric_limits<qint64>::min()) {
        return false;
    }
    *out = integer;
    return true;
}

} // namespace

bool ManifestJson::readString(const QJsonObject& object, const char* key, QString* out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString()) {
        return false;
    }
    *out = value.toString();
    return true;
}

bool ManifestJson::readOptionalString(const QJsonObject& object, const char* key, std::optional<QString>* out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined()) {
        *out = std::nullopt;
        return true;
    }
    QString text;
    if (!readString(object, key, &text)) {
        return false;
    }
    *out = text;
    return true;
}

bool ManifestJson::readInteger(const QJsonObject& object, const char* key, qint64* out)
{
    return integerOf(object.value(QLatin1String(key)), out);
}

bool ManifestJson::readOptionalInteger(const QJsonObject& object, const char* key, std::optional<qint64>* out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined()) {
        *out = std::nullopt;
        return true;
    }
    qint64 integer = 0;
    if (!integerOf(value, &integer)) {
        return false;
    }
    *out = integer;
    return true;
}

bool ManifestJson::readBool(const QJsonObject& object, const char* key, bool* out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isBool()) {
        return false;
    }
    *out = value.toBool();
    return true;
}
