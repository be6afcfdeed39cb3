#include "RegionPayload.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

bool isMissing(const QJsonValue& value)
{
    return value.isUndefined() || value.isNull();
}

bool readString(const QJsonObject& object, const char* key, std::optional<QString>* out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (isMissing(value)) {
        return true;
    }
    if (!value.isString()) {
        return false;
    }
    *out = value.toString();
    return true;
}

bool readBool(const QJsonObject& object, const char* key, std::optional<bool>* out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (isMissing(value)) {
        return true;
    }
    if (!value.isBool()) {
        return false;
    }
    *out = value.toBool();
    return true;
}

} // namespace

std::optional<RegionPayload> RegionPayload::decode(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    RegionPayload payload;
    if (!readString(object, "country_code", &payload.countryCode)) {
        return std::nullopt;
    }
    if (!payload.countryCode && !readString(object, "country", &payload.countryCode)) {
        return std::nullopt;
    }
    if (!readString(object, "client_region", &payload.clientRegion)
        || !readBool(object, "vpn_suspected", &payload.vpnSuspected) || !readBool(object, "blocked", &payload.blocked)) {
        return std::nullopt;
    }
    return payload;
}
