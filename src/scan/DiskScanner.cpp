#include "DiskScanner.h"

#include "base/RelativeDateFormatter.h"
#include "model/AppSettings.h"

#include <QThread>

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 gigabyte = qint64(1) << 30;
constexpr qint64 megabyte = qint64(1) << 20;
constexpr qint64 appFolderMinimum = 10485760;     // 10 MiB; equal is not enough
constexpr qint64 appFolderWarning = 20973824;     // the "много места" mark
constexpr qint64 junkMinimum = 5242880;           // 5 MiB


} // namespace

const QStringList& DiskScanner::archiveCandidateKeywords()
{
    static const QStringList keywords = {QStringLiteral("ГОТОВО"), QStringLiteral("РЕЛИЗ"), QStringLiteral("Выложено"),
                                         QStringLiteral("Готовое")};
    return keywords;
}

DiskScanner::DiskScanner(FileSystemPtr fileSystem, HomeLayout layout, ClockPtr clock, VolumeSourcePtr volumes,
                         QSet<QString> videoExtensions)
    : m_fs(fileSystem)
    , m_walker(std::move(fileSystem), DirectoryWalker::defaultSizingThreads(), layout.home())
    , m_layout(std::move(layout))
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
    // Desktop and Downloads are roots of their own; the media and document
    // folders are never listed whole.
    const QSet<QByteArray> homeSkips = m_layout.userFolderNames();
    const WalkExclusion exclusion(settings, WalkExclusionMode::standard);
    QList<FilePath> roots;
    for (const UserFolder folder : {UserFolder::desktop, UserFolder::downloads}) {
        if (const std::optional<FilePath> root = m_layout.userFolder(folder)) {
            roots.append(*root);
        }
    }
    roots.append(home());
    for (const FilePath& root : roots) {
        if (!m_fs->exists(root.native())) {
            continue;
        }
        const bool isHome = root == home();
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
    const std::optional<FilePath> desktopFolder = m_layout.userFolder(UserFolder::desktop);
    if (!desktopFolder) {
        return rows;
    }
    const FilePath& desktop = *desktopFolder;
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
    const std::optional<FilePath> downloadsFolder = m_layout.userFolder(UserFolder::downloads);
    if (!downloadsFolder) {
        return rows;
    }
    const FilePath& downloads = *downloadsFolder;
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
        for (const UserFolder folder :
             {UserFolder::desktop, UserFolder::downloads, UserFolder::documents, UserFolder::videos}) {
            if (const std::optional<FilePath> root = m_layout.userFolder(folder)) {
                roots.append(*root);
            }
        }
    } else {
        roots.append(home());
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
    const std::optional<FilePath> downloadsFolder = m_layout.userFolder(UserFolder::downloads);
    if (!downloadsFolder) {
        return rows;
    }
    const FilePath& downloads = *downloadsFolder;
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
    const std::optional<FilePath> downloadsFolder = m_layout.userFolder(UserFolder::downloads);
    if (!downloadsFolder) {
        return rows;
    }
    const FilePath& downloads = *downloadsFolder;
    for (const DirEntry& entry : list(downloads)) {
        if (entry.statOk && entry.stat.isDirectory) {
            continue;
        }
        const FilePath child = downloads.child(entry.name);
        if (!m_layout.isInstaller(child.fileName())) {
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
    for (const AppCacheFolder& app : m_layout.appCaches()) {
        for (const FilePath& folder : m_layout.expand(app.folder, *m_fs)) {
            const qint64 size = serviceAreaSize(folder, settings, 6);
            if (size <= appFolderMinimum) {
                continue;
            }
            QString detail = app.label;
            if (size > appFolderWarning) {
                detail += QStringLiteral(" ⚠️ много места!");
            }
            detail += QStringLiteral(" — ") + app.instruction;
            rows.append(ScanItem::make(folder, size, ScanCategory::appCaches, true, false, detail));
        }
    }
    return rows;
}

qint64 DiskScanner::serviceAreaSize(const FilePath& path, const AppSettings& settings, int maxDepth) const
{
    if (m_layout.serviceAreaNames().isEmpty()) {
        return m_walker.directorySize(path, settings, maxDepth, WalkExclusionMode::includeLibraryAndTrash);
    }
    AppSettings lifted = settings;
    for (const QString& name : m_layout.serviceAreaNames()) {
        lifted.excludedPaths.removeAll(name);
    }
    return m_walker.directorySize(path, lifted, maxDepth, WalkExclusionMode::includeLibraryAndTrash);
}

ScanItemList DiskScanner::scanSystemJunk(const AppSettings& settings) const
{
    ScanItemList rows;
    const int depth = settings.lowPowerMode ? 6 : 10;
    const LayoutTexts& texts = m_layout.texts();

    for (const QString& place : m_layout.logPlaces()) {
        for (const FilePath& logs : m_layout.expand(place, *m_fs)) {
            const qint64 size = serviceAreaSize(logs, settings, depth);
            if (size > junkMinimum) {
                rows.append(ScanItem::make(logs, size, ScanCategory::systemJunk, m_walker.isDirectory(logs), false,
                                           texts.logsDetail));
            }
        }
    }
    addJournalRow(&rows);

    const FilePath& caches = m_layout.userCaches();
    if (m_fs->exists(caches.native())) {
        QList<DirEntry> entries;
        if (m_fs->listDirectory(caches.native(), &entries)) {
            bool addedChild = false;
            for (const DirEntry& entry : entries) {
                if (!entry.statOk || !entry.stat.isDirectory) {
                    continue;
                }
                const FilePath child = caches.child(entry.name);
                const qint64 size = serviceAreaSize(child, settings, depth);
                if (size > junkMinimum) {
                    const QString name = child.fileName();
                    rows.append(ScanItem::make(child, size, ScanCategory::systemJunk, true, false,
                                               QStringLiteral("Кэш «") + name
                                                   + QStringLiteral("» — безопасно удалять, приложение пересоздаст")));
                    addedChild = true;
                }
            }
            if (!addedChild) {
                const qint64 size = serviceAreaSize(caches, settings, depth);
                if (size > junkMinimum) {
                    rows.append(
                        ScanItem::make(caches, size, ScanCategory::systemJunk, true, false, texts.cachesDetail));
                }
            }
        }
    }

    const FilePath& trash = m_layout.trash();
    if (m_fs->exists(trash.native())) {
        const qint64 size = serviceAreaSize(trash, settings, m_layout.trashDepth());
        if (size > 0) {
            rows.append(ScanItem::make(trash, size, ScanCategory::systemJunk, true, false, texts.trashDetail));
        }
    }
    return rows;
}

void DiskScanner::addJournalRow(ScanItemList* rows) const
{
    // The user's own systemd journal: user-UID.journal, its archived
    // user-UID@….journal files and a damaged user-UID.journal~, in the
    // machine's folder of each journal root. Only sized and explained:
    // journalctl trims it, the program never deletes it.
    const QByteArray prefix = "user-" + QByteArray::number(m_layout.journalUid());
    qint64 total = 0;
    FilePath shown;
    for (const FilePath& root : m_layout.journalRoots()) {
        for (const DirEntry& machine : list(root)) {
            if (!machine.statOk || !machine.stat.isDirectory) {
                continue;
            }
            const FilePath folder = root.child(machine.name);
            for (const DirEntry& file : list(folder)) {
                const QByteArray& name = file.name;
                const bool isUserJournal = name == prefix + ".journal" || name == prefix + ".journal~"
                    || (name.startsWith(prefix + '@') && name.endsWith(".journal"));
                if (!file.statOk || !file.stat.isRegular || !isUserJournal) {
                    continue;
                }
                total += m_walker.fileSize(folder.child(name));
                if (shown.isEmpty() || name == prefix + ".journal") {
                    shown = folder.child(name);
                }
            }
        }
    }
    if (total > junkMinimum) {
        rows->append(ScanItem::make(shown, total, ScanCategory::systemJunk, false, false,
                                    m_layout.texts().journalDetail));
    }
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
