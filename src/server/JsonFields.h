#pragma once

#include <QJsonObject>
#include <QMap>
#include <QString>

// Strict readers for the server records: a missing key or a value of another
// type fails the whole record.
namespace JsonFields {

inline bool readString(const QJsonObject& object, const char* key, QString* out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString()) {
        return false;
    }
    *out = value.toString();
    return true;
}

inline bool readStringMap(const QJsonObject& object, const char* key, QMap<QString, QString>* out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isObject()) {
        return false;
    }
    const QJsonObject map = value.toObject();
    QMap<QString, QString> result;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        if (!it.value().isString()) {
            return false;
        }
        result.insert(it.key(), it.value().toString());
    }
    *out = std::move(result);
    return true;
}

inline QJsonObject stringMap(const QMap<QString, QString>& map)
{
    QJsonObject object;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        object.insert(it.key(), it.value());
    }
    return object;
}

} // namespace JsonFields
