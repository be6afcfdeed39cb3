#include "CleanArchiveManifest.h"

#include "ManifestJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

QString CleanArchiveManifest::formatDate(const QDateTime& date)
{
    QDateTime utc = date.toUTC();
    utc.setTime(QTime(utc.time().hour(), utc.time().minute(), utc.time().second()));
    return utc.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

std::optional<QDateTime> CleanArchiveManifest::parseDate(const QString& text)
{
    // Date and time are read apart: read as one local time, a moment inside
    // a daylight-saving gap would not exist.
    if (text.size() != 20 || text.at(10) != QLatin1Char('T') || text.at(19) != QLatin1Char('Z')) {
        return std::nullopt;
    }
    const QDate day = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(text.mid(11, 8), QStringLiteral("HH:mm:ss"));
    if (!day.isValid() || !time.isValid()) {
        return std::nullopt;
    }
    return QDateTime(day, time, QTimeZone::utc());
}

QByteArray CleanArchiveManifest::toJson() const
{
    // QJsonObject keeps its keys in sorted order, which is the order the
    // manifest is written in at every level.
    QJsonArray entryList;
    for (const CleanArchiveEntry& entry : entries) {
        entryList.append(entry.toJson());
    }
    QJsonObject object;
    object.insert(QLatin1String("version"), version);
    object.insert(QLatin1String("createdAt"), formatDate(createdAt));
    object.insert(QLatin1String("profile"), profile);
    object.insert(QLatin1String("profileTitle"), profileTitle);
    object.insert(QLatin1String("homeDirectory"), homeDirectory);
    object.insert(QLatin1String("entries"), entryList);
    object.insert(QLatin1String("totalBytes"), totalBytes);
    object.insert(QLatin1String("appVersion"), appVersion);
    if (compression) {
        object.insert(QLatin1String("compression"), *compression);
    }
    if (compressedBytes) {
        object.insert(QLatin1String("compressedBytes"), *compressedBytes);
    }
    if (compressedSHA256) {
        object.insert(QLatin1String("compressedSHA256"), *compressedSHA256);
    }
    if (archiveFileName) {
        object.insert(QLatin1String("archiveFileName"), *archiveFileName);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

std::optional<CleanArchiveManifest> CleanArchiveManifest::fromJson(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    CleanArchiveManifest manifest;
    QString createdAt;
    if (!ManifestJson::readInteger(object, "version", &manifest.version)
        || !ManifestJson::readString(object, "createdAt", &createdAt)
        || !ManifestJson::readString(object, "profile", &manifest.profile)
        || !ManifestJson::readString(object, "profileTitle", &manifest.profileTitle)
        || !ManifestJson::readString(object, "homeDirectory", &manifest.homeDirectory)
        || !ManifestJson::readInteger(object, "totalBytes", &manifest.totalBytes)
        || !ManifestJson::readString(object, "appVersion", &manifest.appVersion)
        || !ManifestJson::readOptionalString(object, "compression", &manifest.compression)
        || !ManifestJson::readOptionalInteger(object, "compressedBytes", &manifest.compressedBytes)
        || !ManifestJson::readOptionalString(object, "compressedSHA256", &manifest.compressedSHA256)
        || !ManifestJson::readOptionalString(object, "archiveFileName", &manifest.archiveFileName)) {
        return std::nullopt;
    }
    const std::optional<QDateTime> date = parseDate(createdAt);
    const QJsonValue entries = object.value(QLatin1String("entries"));
    if (!date || !entries.isArray()) {
        return std::nullopt;
    }
    manifest.createdAt = *date;
    for (const QJsonValue& value : entries.toArray()) {
        if (!value.isObject()) {
            return std::nullopt;
        }
        const std::optional<CleanArchiveEntry> entry = CleanArchiveEntry::fromJson(value.toObject());
        if (!entry) {
            return std::nullopt;
        }
        manifest.entries.append(*entry);
    }
    return manifest;
}
