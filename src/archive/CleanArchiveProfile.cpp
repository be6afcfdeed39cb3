#include "CleanArchiveProfile.h"

#include <QFile>

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

QList<QByteArray> CleanArchiveProfiles::homeFolders(CleanArchiveProfile profile, const HomeLayout& layout)
{
    QList<QByteArray> names;
    const auto add = [&](UserFolder folder) {
        if (const std::optional<FilePath> path = layout.userFolder(folder)) {
            const QByteArray relative = layout.relativeToHome(*path);
            if (!relative.isEmpty() && !relative.contains('/')) {
                names.append(relative);
            }
        }
    };
    switch (profile) {
    case CleanArchiveProfile::essential:
        add(UserFolder::documents);
        add(UserFolder::desktop);
        add(UserFolder::downloads);
        break;
    case CleanArchiveProfile::creative:
        add(UserFolder::videos);
        add(UserFolder::music);
        add(UserFolder::pictures);
        break;
    case CleanArchiveProfile::developer:
        names = {QByteArrayLiteral("Projects"), QByteArrayLiteral("Developer"), QByteArrayLiteral(".config"),
                 QByteArrayLiteral(".ssh")};
        break;
    }
    return names;
}

bool CleanArchiveProfiles::excludesFile(CleanArchiveProfile profile, const QByteArray& name, const HomeLayout& layout)
{
    if (profile != CleanArchiveProfile::essential) {
        return false;
    }
    // Installers and zip files are re-downloadable and large: "setup.DMG" goes,
    // "notes.dmg.txt" stays.
    const QString text = QFile::decodeName(name);
    return layout.isInstaller(text) || text.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive);
}
