#include "CleanArchiveEntry.h"

#include "ManifestJson.h"

QJsonObject CleanArchiveEntry::toJson() const
{
    QJsonObject object;
    object.insert(QLatin1String("relativePath"), relativePath);
    object.insert(QLatin1String("size"), size);
    object.insert(QLatin1String("isDirectory"), isDirectory);
    if (sha256) {
        object.insert(QLatin1String("sha256"), *sha256);
    }
    return object;
}

std::optional<CleanArchiveEntry> CleanArchiveEntry::fromJson(const QJsonObject& object)
{
    CleanArchiveEntry entry;
    if (!ManifestJson::readString(object, "relativePath", &entry.relativePath)
        || !ManifestJson::readInteger(object, "size", &entry.size)
        || !ManifestJson::readBool(object, "isDirectory", &entry.isDirectory)
        || !ManifestJson::readOptionalString(object, "sha256", &entry.sha256)) {
        return std::nullopt;
    }
    return entry;
}

bool CleanArchiveEntry::isSafeRelativePath(const QString& path)
{
    return !path.isEmpty() && path != QLatin1String(".") && path != QLatin1String("..")
        && !path.contains(QLatin1Char('/')) && !path.contains(QChar(0));
}
