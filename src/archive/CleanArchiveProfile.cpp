#include "CleanArchiveProfile.h"

QList<CleanArchiveProfile> CleanArchiveProfiles::all()
{
    return {CleanArchiveProfile::essential, CleanArchiveProfile::creative, CleanArchiveProfile::developer};
}

QString CleanArchiveProfiles::rawValue(CleanArchiveProfile profile)
{
    switch (profile) {
    case CleanArchiveProfile::essential:
        return QStringLiteral("essential");
    case CleanArchiveProfile::creative:
        return QStringLiteral("creative");
    case CleanArchiveProfile::developer:
        return QStringLiteral("developer");
    }
    return {};
}

std::optional<CleanArchiveProfile> CleanArchiveProfiles::fromRawValue(const QString& raw)
{
    for (const CleanArchiveProfile profile : all()) {
        if (rawValue(profile) == raw) {
            return profile;
        }
    }
    return std::nullopt;
}

QString CleanArchiveProfiles::title(CleanArchiveProfile profile)
{
    switch (profile) {
    case CleanArchiveProfile::essential:
        return QStringLiteral("Документы и рабочий стол");
    case CleanArchiveProfile::creative:
        return QStringLiteral("Медиа и проекты");
    case CleanArchiveProfile::developer:
        return QStringLiteral("Разработка");
    }
    return {};
}

QList<QByteArray> CleanArchiveProfiles::homeFolders(CleanArchiveProfile profile)
{
    switch (profile) {
    case CleanArchiveProfile::essential:
        return {QByteArrayLiteral("Documents"), QByteArrayLiteral("Desktop"), QByteArrayLiteral("Downloads")};
    case CleanArchiveProfile::creative:
        return {QByteArrayLiteral("Movies"), QByteArrayLiteral("Music"), QByteArrayLiteral("Pictures")};
    case CleanArchiveProfile::developer:
        return {QByteArrayLiteral("Projects"), QByteArrayLiteral("Developer"), QByteArrayLiteral(".config"),
                QByteArrayLiteral(".ssh")};
    }
    return {};
}

bool CleanArchiveProfiles::excludesFile(CleanArchiveProfile profile, const QByteArray& name)
{
    if (profile != CleanArchiveProfile::essential) {
        return false;
    }
    // Installers and zip files are re-downloadable and large: "setup.DMG" goes,
    // "notes.dmg.txt" stays.
    const qsizetype dot = name.lastIndexOf('.');
    if (dot < 0) {
        return false;
    }
    const QByteArray extension = name.mid(dot + 1).toLower();
    return extension == "dmg" || extension == "pkg" || extension == "zip";
}
