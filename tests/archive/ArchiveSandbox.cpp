#include "ArchiveSandbox.h"

#include <QCryptographicHash>
#include <QTimeZone>
#include <QTest>

using namespace Qt::StringLiterals;

ArchiveSandbox::ArchiveSandbox()
    : fs(std::make_shared<FaultInjectingFileSystem>())
    , clock(std::make_shared<FakeClock>(QDateTime(QDate(2026, 3, 14), QTime(9, 30, 15))))
{
    m_root.makeDirectory("home");
    m_root.makeDirectory("archive");
    m_root.makeDirectory("tmp");
    m_root.makeDirectory("outside");
    m_root.writeFile("outside/victim", "do not touch\n");
}

AppSettings ArchiveSandbox::settings(bool compress) const
{
    AppSettings settings = AppSettings::defaults(home().toString());
    settings.archivePath = archiveRoot().toString();
    settings.compressCleanArchive = compress;
    return settings;
}

FilePath ArchiveSandbox::makeArchive(const QByteArray& id, const QByteArray& manifest)
{
    m_root.makeDirectory("archive/CleanArchives/" + id);
    m_root.writeFile("archive/CleanArchives/" + id + "/manifest.json", manifest);
    return cleanArchives().child(id);
}

std::optional<CleanArchiveSummary> ArchiveSandbox::listed(const QByteArray& id) const
{
    for (const CleanArchiveSummary& summary : service().listArchives(archiveRoot())) {
        if (summary.id == QString::fromUtf8(id)) {
            return summary;
        }
    }
    return std::nullopt;
}

QByteArray manifestJson(const QList<CleanArchiveEntry>& entries, bool packed,
                        const std::optional<QString>& compressedSHA256, const std::optional<QString>& archiveFileName)
{
    CleanArchiveManifest manifest;
    manifest.createdAt = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone::utc());
    manifest.profile = u"essential"_s;
    manifest.profileTitle = u"Документы и рабочий стол"_s;
    manifest.homeDirectory = u"/home/somebody"_s;
    manifest.appVersion = u"0.1.0"_s;
    manifest.entries = entries;
    if (packed) {
        manifest.compression = u"tar.zst"_s;
        manifest.compressedBytes = 0;
        manifest.compressedSHA256 = compressedSHA256;
        manifest.archiveFileName = archiveFileName;
    }
    return manifest.toJson();
}

QByteArray independentSha256(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}
