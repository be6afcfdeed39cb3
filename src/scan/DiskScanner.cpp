#include "DiskScanner.h"

#include "app/AppSettings.h"
#include "platform/RelativeDateFormatter.h"

#include <QThread>

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 gigabyte = qint64(1) << 30;
constexpr qint64 megabyte = qint64(1) << 20;
constexpr qint64 appFolderMinimum = 10485760;     // 10 MiB; equal is not enough
constexpr qint64 appFolderWarning = 20973824;     // the "много места" mark
constexpr qint64 junkMinimum = 5242880;           // 5 MiB


struct AppFolder
{
    const char* label;
    const char* folder;
    const char* instruction;
};

const AppFolder appFolders[] = {
    {"Cursor (чаты/состояние)", "Library/Application Support/Cursor/User/globalStorage",
     "Cursor → Settings → очистить историю чатов"},
    {"Cursor (снимки)", "Library/Application Support/Cursor/snapshots", "Можно удалить старые snapshots вручную"},
    {"ONEME", "Library/Application Support/ONEME", "Настройки ONEME → очистить медиа-кэш"},
    {"Telegram", "Library/Caches/ru.keepcoder.Telegram", "Telegram → Settings → Data → Clear cache"},
    {"Opera GX", "Library/Application Support/com.operasoftware.OperaGX",
     "Opera → Settings → Privacy → Clear browsing data"},
};

} // namespace

const QStringList& DiskScanner::archiveCandidateKeywords()
{
    static const QStringList keywords = {QStringLiteral("ГОТОВО"), QStringLiteral("РЕЛИЗ"), QStringLiteral("Выложено"),
                                         QStringLiteral("Готовое")};
    return keywords;
}

DiskScanner::DiskScanner(FileSystemPtr fileSystem, FilePath home, ClockPtr clock, VolumeSourcePtr volumes,
                         QSet<QString> videoExtensions)
    : m_fs(fileSystem)
    , m_walker(std::move(fileSystem), DirectoryWalker::defaultSizingThreads(), home)
    , m_home(std::move(home))
    , m_clock(std::move(clock))
    , m_volumes(std::move(volumes))
    , m_videoExtensions(std::move(videoExtensions))
{
}

qint64 DiskScanner::thresholdBytes(double value, qint64 unit)
{
    const double bytes = value * double(unit);
    if (std::isnan(bytes) || bytes >= 9.2233720368547758e18) {
        return std::numeric_limits<qint64>::max();
    }
    if (bytes <= -9.2233720368547758e18) {
        return std::numeric_limits<qint64>::min();
    }
    return qint64(bytes);
}

ScanItemList DiskScanner::scan(const AppSettings& settings, const ScanCategorySet& categories,
                               const ScanProgressHandler& onProgress) const
{
    ScanItemList results;
    qint64 done = 0;
    const qint64 total = categories.size();
    for (ScanCategory category : ScanCategories::allCategories()) {
        if (!categories.contains(category)) {
            continue;
        }
        if (onProgress) {
            onProgress(ScanProgress{true, ScanCategories::title(category, &settings), results.size(),
                                    double(done) / double(std::max<qint64>(total, 1))});
        }
        results.append(runRule(category, settings));
        if (settings.lowPowerMode) {
            QThread::msleep(150);
        }
        ++done;
    }
    if (onProgress) {
        onProgress(ScanProgress{false, QStringLiteral("Готово"), results.size(), 1.0});
    }
    return results;
}

ScanItemList DiskScanner::runRule(ScanCategory category, const AppSettings& settings) const
{
    switch (category) {
    case ScanCategory::largeFolders:
        return scanLargeFolders(settings);
    case ScanCategory::archiveCandidates:
        return scanArchiveCandidates(settings);
    case ScanCategory::downloadsInbox:
        return scanDownloadsInbox(settings);
    case ScanCategory::plusVideos:
        return scanPlusVideos(settings);
    case ScanCategory::largeLooseFiles:
        return scanLargeLooseFiles(settings);
    case ScanCategory::oldInstallers:
        return scanOldInstallers(settings);
    case ScanCategory::appCaches:
        return scanAppCaches(settings);
    case ScanCategory::systemJunk:
        break;
    }
    return scanSystemJunk(settings);
}

QList<DirEntry> DiskScanner::list(const FilePath& folder) const
{
    QList<DirEntry> entries;
    if (!m_fs->listDirectory(folder.native(), &entries)) {
        entries.clear();
    }
    return entries;
}

QDateTime DiskScanner::cutoff(qint64 days) const
{
    const QDateTime now = m_clock->now();
    // Beyond the calendar's range there is no cut-off date: everything is newer.
    if (days > 100000000 || days < -100000000) {
        return QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::min() / 2);
    }
    const QDateTime c = now.addDays(-days);
    return c.isValid() ? c : QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::min() / 2);
}

qint64 DiskScanner::ageInDays(const QDateTime& date) const
{
    const QDateTime now = m_clock->now();
    if (!date.isValid() || !now.isValid()) {
        return 0;
    }
    const QDateTime local = date.toLocalTime();
    const QDateTime localNow = now.toLocalTime();
    qint64 days = local.date().daysTo(localNow.date());
    // Whole days only: a day counts once the same wall-clock time has passed.
    if (days > 0 && local.addDays(days) > localNow) {
        --days;
    } else if (days < 0 && local.addDays(days) < localNow) {
        ++days;
    }
    return days;
}

QDateTime DiskScanner::modifiedOrNow(const DirEntry& entry) const
{
    if (entry.statOk && entry.stat.hasModified) {
        return QDateTime::fromMSecsSinceEpoch(entry.stat.modifiedMs);
    }
    return m_clock->now();
}

ScanItemList DiskScanner::scanLargeFolders(const AppSettings& settings) const
{
    ScanItemList rows;
    const qint64 threshold = thresholdBytes(settings.largeFolderThresholdGB, gigabyte);
    const int depth = settings.lowPowerMode ? 4 : 6;
    static const QSet<QByteArray> homeSkips = {"Desktop", "Downloads", "Documents", "Movies", "Pictures", "Music"};
    const WalkExclusion exclusion(settings, WalkExclusionMode::standard);
    const FilePath roots[] = {m_home.child(QByteArrayLiteral("Desktop")), m_home.child(QByteArrayLiteral("Downloads")),
                              m_home};
    for (const FilePath& root : roots) {
        if (!m_fs->exists(root.native())) {
            continue;
        }
        const bool isHome = root == m_home;
        const QString detail = root.fileName();
        for (const DirEntry& entry : list(root)) {
            const FilePath child = root.child(entry.name);
            if (exclusion.excludes(child.native())) {
                continue;
            }
            if (!entry.statOk || !entry.stat.isDirectory) {
                continue;
            }
            if (isHome && homeSkips.contains(entry.name)) {
                continue;
            }
            const qint64 size = m_walker.directorySize(child, settings, depth, WalkExclusionMode::standard);
            if (size >= threshold) {
                rows.append(ScanItem::make(child, size, ScanCategory::largeFolders, true, true, detail));
            }
        }
    }
    return rows;
}

ScanItemList DiskScanner::scanArchiveCandidates(const AppSettings& settings) const
{
    ScanItemList rows;
    const qint64 minimum = thresholdBytes(settings.archiveCandidateMinGB, gigabyte);
    const QDateTime limit = cutoff(settings.archiveCandidateMinDays);
    const int depth = settings.lowPowerMode ? 4 : 6;
    const FilePath desktop = m_home.child(QByteArrayLiteral("Desktop"));
    for (const DirEntry& entry : list(desktop)) {
        if (!entry.statOk || !entry.stat.isDirectory) {
            continue;
        }
        const FilePath child = desktop.child(entry.name);
        const qint64 size = m_walker.directorySize(child, settings, depth, WalkExclusionMode::standard);
        if (size < minimum) {
            continue;
        }
        const QDateTime modified = modifiedOrNow(entry);
        const QString name = child.fileName();
        QString detail;
        const QStringList& keywords = archiveCandidateKeywords();
        const bool hasKeyword = std::any_of(keywords.cbegin(), keywords.cend(), [&](const QString& k) {
            return name.contains(k, Qt::CaseInsensitive);
        });
        if (hasKeyword) {
            detail = QStringLiteral("ключевое слово в названии");
        } else if (modified < limit) {
            detail = QStringLiteral("не изменялась ") + QString::number(ageInDays(modified)) + QStringLiteral(" дн.");
        } else {
            continue;
        }
        rows.append(ScanItem::make(child, size, ScanCategory::archiveCandidates, true, true, detail));
    }
    return rows;
}

ScanItemList DiskScanner::scanDownloadsInbox(const AppSettings&) const
{
    ScanItemList rows;
    const FilePath downloads = m_home.child(QByteArrayLiteral("Downloads"));
    const QDateTime now = m_clock->now();
    for (const DirEntry& entry : list(downloads)) {
        if (entry.statOk && entry.stat.isDirectory) {
            continue;
        }
        const FilePath child = downloads.child(entry.name);
        QString detail;
        if (entry.statOk && entry.stat.hasModified) {
            detail = RelativeDateFormatter::format(QDateTime::fromMSecsSinceEpoch(entry.stat.modifiedMs), now);
        }
        rows.append(ScanItem::make(child, m_walker.fileSize(child), ScanCategory::downloadsInbox, false, true, detail));
    }
    return rows;
}

bool DiskScanner::matchesVideoSearch(const QString& name, const FilePath& path, const AppSettings& settings) const
{
    if (!m_videoExtensions.contains(path.suffix().toLower())) {
        return false;
    }
    if (settings.videoSearchMode == VideoSearchMode::fileType) {
        return true;
    }
    const QString text = settings.videoNamePrefix.trimmed();
    return !text.isEmpty() && name.contains(text, Qt::CaseInsensitive);
}

ScanItemList DiskScanner::scanPlusVideos(const AppSettings& settings) const
{
    ScanItemList rows;
    const QString text = settings.videoNamePrefix.trimmed();
    const bool byType = settings.videoSearchMode == VideoSearchMode::fileType;
    if (!byType && text.isEmpty()) {
        return rows;
    }
    const qint64 threshold = thresholdBytes(settings.plusVideoThresholdMB, megabyte);
    QList<FilePath> roots;
    int depth = 8;
    if (settings.lowPowerMode) {
        depth = 5;
        for (const char* name : {"Desktop", "Downloads", "Documents", "Movies"}) {
            roots.append(m_home.child(QByteArray(name)));
        }
    } else {
        roots.append(m_home);
    }
    // Videos already in the archive folder are not offered again, and a file
    // reached by two names (a link to a folder, a hard link) is one row.
    QByteArray archive = FilePath::fromString(settings.archivePath).native();
    while (archive.size() > 1 && archive.endsWith('/')) {
        archive.chop(1);
    }
    const QByteArray realArchive = archive.isEmpty() ? QByteArray() : m_fs->resolvedPath(archive);
    QSet<std::pair<quint64, quint64>> seen;
    for (const FilePath& root : roots) {
        if (!m_fs->exists(root.native())) {
            continue;
        }
        // The walk runs right here on the scanning thread: the handler is
        // sequential either way, and the caller is not the main thread.
        ScanItemList found;
        m_walker.walkSync(root, settings, 0, depth, WalkExclusionMode::standard, [&](const WalkEntry& entry) {
            if (entry.isDirectory || (!archive.isEmpty() && entry.path.startsWith(archive + '/'))) {
                return;
            }
            const FilePath path(entry.path);
            const QString name = path.fileName();
            if (!matchesVideoSearch(name, path, settings)) {
                return;
            }
            const qint64 size = m_walker.fileSize(entry);
            if (size < threshold) {
                return;
            }
            FileStat st;
            if (m_fs->statAt(entry.parentFd, entry.name, entry.path, false, &st)
                && (seen.contains({st.device, st.inode}))) {
                return;
            }
            if (!realArchive.isEmpty() && m_fs->resolvedPath(entry.path).startsWith(realArchive + '/')) {
                return;
            }
            seen.insert({st.device, st.inode});
            const QString detail = byType ? QStringLiteral(".") + path.suffix().toLower()
                                          : QStringLiteral("содержит «") + text + QStringLiteral("»");
            found.append(ScanItem::make(path, size, ScanCategory::plusVideos, false, true, detail));
        });
        rows.append(found);
    }
    return rows;
}

ScanItemList DiskScanner::scanLargeLooseFiles(const AppSettings& settings) const
{
    ScanItemList rows;
    const qint64 threshold = thresholdBytes(settings.largeFileThresholdMB, megabyte);
    const FilePath downloads = m_home.child(QByteArrayLiteral("Downloads"));
    for (const DirEntry& entry : list(downloads)) {
        if (entry.statOk && entry.stat.isDirectory) {
            continue;
        }
        const FilePath child = downloads.child(entry.name);
        const qint64 size = m_walker.fileSize(child);
        if (size >= threshold) {
            rows.append(ScanItem::make(child, size, ScanCategory::largeLooseFiles, false, true, std::nullopt));
        }
    }
    return rows;
}

ScanItemList DiskScanner::scanOldInstallers(const AppSettings& settings) const
{
    ScanItemList rows;
    const QDateTime limit = cutoff(settings.installerMaxAgeDays);
    const FilePath downloads = m_home.child(QByteArrayLiteral("Downloads"));
    for (const DirEntry& entry : list(downloads)) {
        if (entry.statOk && entry.stat.isDirectory) {
            continue;
        }
        const FilePath child = downloads.child(entry.name);
        const QString extension = child.suffix().toLower();
        if (extension != QLatin1String("dmg") && extension != QLatin1String("pkg")) {
            continue;
        }
        const QDateTime modified = modifiedOrNow(entry);
        if (!(modified < limit)) {
            continue;
        }
        rows.append(ScanItem::make(child, m_walker.fileSize(child), ScanCategory::oldInstallers, false, true,
                                   QString::number(ageInDays(modified)) + QStringLiteral(" дн. назад")));
    }
    return rows;
}

ScanItemList DiskScanner::scanAppCaches(const AppSettings& settings) const
{
    ScanItemList rows;
    for (const AppFolder& app : appFolders) {
        const FilePath folder = m_home.child(QByteArray(app.folder));
        if (!m_fs->exists(folder.native())) {
            continue;
        }
        const qint64 size = m_walker.directorySize(folder, settings, 6, WalkExclusionMode::includeLibraryAndTrash);
        if (size <= appFolderMinimum) {
            continue;
        }
        QString detail = QString::fromUtf8(app.label);
        if (size > appFolderWarning) {
            detail += QStringLiteral(" ⚠️ много места!");
        }
        detail += QStringLiteral(" — ") + QString::fromUtf8(app.instruction);
        rows.append(ScanItem::make(folder, size, ScanCategory::appCaches, true, false, detail));
    }
    return rows;
}

ScanItemList DiskScanner::scanSystemJunk(const AppSettings& settings) const
{
    ScanItemList rows;
    const int depth = settings.lowPowerMode ? 6 : 10;
    const auto sizeOf = [&](const FilePath& path, int maxDepth) {
        return m_walker.directorySize(path, settings, maxDepth, WalkExclusionMode::includeLibraryAndTrash);
    };

    const FilePath logs = m_home.child(QByteArrayLiteral("Library/Logs"));
    if (m_fs->exists(logs.native())) {
        const qint64 size = sizeOf(logs, depth);
        if (size > junkMinimum) {
            rows.append(ScanItem::make(logs, size, ScanCategory::systemJunk, true, false,
                                       QStringLiteral("Логи пользователя — очистка вручную или через macOS")));
        }
    }

    const FilePath caches = m_home.child(QByteArrayLiteral("Library/Caches"));
    if (m_fs->exists(caches.native())) {
        QList<DirEntry> entries;
        if (m_fs->listDirectory(caches.native(), &entries)) {
            bool addedChild = false;
            for (const DirEntry& entry : entries) {
                if (!entry.statOk || !entry.stat.isDirectory) {
                    continue;
                }
                const FilePath child = caches.child(entry.name);
                const qint64 size = sizeOf(child, depth);
                if (size > junkMinimum) {
                    const QString name = child.fileName();
                    rows.append(ScanItem::make(child, size, ScanCategory::systemJunk, true, false,
                                               QStringLiteral("Кэш «") + name
                                                   + QStringLiteral("» — безопасно удалять, приложение пересоздаст")));
                    addedChild = true;
                }
            }
            if (!addedChild) {
                const qint64 size = sizeOf(caches, depth);
                if (size > junkMinimum) {
                    rows.append(ScanItem::make(caches, size, ScanCategory::systemJunk, true, false,
                                               QStringLiteral("Кэши пользователя — очистка вручную или через macOS")));
                }
            }
        }
    }

    const FilePath trash = m_home.child(QByteArrayLiteral(".Trash"));
    if (m_fs->exists(trash.native())) {
        const qint64 size = sizeOf(trash, 3);
        if (size > 0) {
            rows.append(ScanItem::make(trash, size, ScanCategory::systemJunk, true, false,
                                       QStringLiteral("Корзина — очистите через Finder или «Очистить корзину»")));
        }
    }
    return rows;
}

DiskInfoList DiskScanner::diskInfo() const
{
    DiskInfoList disks;
    const std::optional<QList<VolumeFacts>> volumes = m_volumes ? m_volumes->mountedVolumes() : std::nullopt;
    if (!volumes) {
        return disks;
    }
    for (const VolumeFacts& volume : *volumes) {
        if (!volume.total || !volume.available || *volume.total <= 0 || *volume.total < gigabyte) {
            continue;
        }
        DiskInfo disk;
        disk.id = QUuid::createUuid();
        if (volume.localizedName && !volume.localizedName->isEmpty()) {
            disk.name = *volume.localizedName;
        } else if (volume.name && !volume.name->isEmpty()) {
            disk.name = *volume.name;
        } else {
            // The root has no last component; its path is the only name it has.
            const QString last = FilePath::fromString(volume.path).fileName();
            disk.name = last.isEmpty() ? volume.path : last;
        }
        disk.path = volume.path;
        disk.total = *volume.total;
        disk.free = *volume.available;
        disk.used = disk.total - disk.free;
        disks.append(disk);
    }
    std::stable_sort(disks.begin(), disks.end(), [](const DiskInfo& a, const DiskInfo& b) { return a.used > b.used; });
    return disks;
}
