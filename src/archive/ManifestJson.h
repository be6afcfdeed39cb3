#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// Strict readers for manifest.json: a key of the wrong type, or a number that
// is not a whole number, makes the whole record unreadable rather than
// silently zero.
namespace ManifestJson {
bool readString(const QJsonObject& object, const char* key, QString* out);
bool readOptionalString(const QJsonObject& object, const char* key, std::optional<QString>* out);
bool readInteger(const QJsonObject& object, const char* key, qint64* out);
bool readOptionalInteger(const QJsonObject& object, const char* key, std::optional<qint64>* out);
bool readBool(const QJsonObject& object, const char* key, bool* out);
} // namespace ManifestJson
