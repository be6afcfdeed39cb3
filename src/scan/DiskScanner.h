#pragma once

#include "DirectoryWalker.h"
#include "DiskInfo.h"
#include "HomeLayout.h"
#include "ScanCategory.h"
#include "ScanItem.h"
#include "ScanProgress.h"
#include "base/FilePath.h"
#include "platform/Clock.h"
#include "platform/VolumeSource.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

struct AppSettings;

using ScanProgressHandler = std::function<void(const ScanProgress&)>;

// Runs the category rules over the user's home folder. A value: copies share
// the walker's sizing threads and nothing else. The scanner never changes the
// disk and reports no errors: missing folders, failed listings, unreadable
// dates and sizes are absorbed (empty listing, date = now, size = 0).
class DiskScanner
{
public:
    DiskScanner(FileSystemPtr fileSystem, HomeLayout layout, ClockPtr clock, VolumeSourcePtr volumes,
                QSet<QString> videoExtensions);

    // A large Desktop folder whose name contains one of these words (any
    // case) is an archive candidate however recently it changed.
    static const QStringList& archiveCandidateKeywords();

    // Runs the rules of the given categories in their fixed order on the
    // calling thread and returns their rows in discovery order. onProgress is
    // called on the calling thread before each category and once at the end
    // ("Готово"); it must not block.
    ScanItemList scan(const AppSettings& settings, const ScanCategorySet& categories,
                      const ScanProgressHandler& onProgress) const;

    // The mounted volumes of at least 1 GiB, fullest first.
    DiskInfoList diskInfo() const;

    // The video rule's test of one file (extension, then the mode's name rule).
    bool matchesVideoSearch(const QString& name, const FilePath& path, const AppSettings& settings) const;

    const DirectoryWalker& walker() const { return m_walker; }
    const FilePath& home() const { return m_layout.home(); }
    const HomeLayout& layout() const { return m_layout; }

    // A threshold setting in bytes, the fraction dropped. Values that do not
    // fit a signed 64-bit count (or are not numbers) clamp to its maximum.
    static qint64 thresholdBytes(double value, qint64 unit);

private:
    ScanItemList scanLargeFolders(const AppSettings& settings) const;
    ScanItemList scanArchiveCandidates(const AppSettings& settings) const;
    ScanItemList scanDownloadsInbox(const AppSettings& settings) const;
    ScanItemList scanPlusVideos(const AppSettings& settings) const;
    ScanItemList scanLargeLooseFiles(const AppSettings& settings) const;
    ScanItemList scanOldInstallers(const AppSettings& settings) const;
    ScanItemList scanAppCaches(const AppSettings& settings) const;
    ScanItemList scanSystemJunk(const AppSettings& settings) const;

    ScanItemList runRule(ScanCategory category, const AppSettings& settings) const;
    QList<DirEntry> list(const FilePath& folder) const;
    QDateTime cutoff(qint64 days) const;
    qint64 ageInDays(const QDateTime& date) const;
    QDateTime modifiedOrNow(const DirEntry& entry) const;
    // Sizes a cache, log or Trash place: the layout's service areas are not
    // excluded there.
    qint64 serviceAreaSize(const FilePath& path, const AppSettings& settings, int maxDepth) const;
    void addJournalRow(ScanItemList* rows) const;

    FileSystemPtr m_fs;
    DirectoryWalker m_walker;
    HomeLayout m_layout;
    ClockPtr m_clock;
    VolumeSourcePtr m_volumes;
    QSet<QString> m_videoExtensions;
};
