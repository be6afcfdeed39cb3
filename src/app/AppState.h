#pragma once

#include "AppEnvironment.h"
#include "ArchiveFolderStatus.h"
#include "LaunchDuties.h"
#include "archive/CleanArchiveProgress.h"
#include "archive/CleanArchiveService.h"
#include "fileops/FileMover.h"
#include "fileops/DownloadsSorter.h"
#include "fileops/MoveLogStore.h"
#include "fileops/MoveRecovery.h"
#include "fileops/SafeCleanupService.h"
#include "health/StorageHistoryStore.h"
#include "health/MacHealthSnapshot.h"
#include "base/OffThread.h"
#include "model/AppSettings.h"
#include "platform/StopRequest.h"
#include "scan/DiskInfo.h"
#include "scan/DiskScanner.h"
#include "scan/ScanCategory.h"
#include "scan/ScanItem.h"
#include "scan/ScanProgress.h"
#include "platform/WriterLock.h"
#include "scan/UsageTree.h"
#include "scan/UsageWalker.h"

#include <QCoreApplication>
#include <QFuture>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QPromise>
#include <QThreadPool>

#include <atomic>
#include <memory>
#include <optional>

class MoveJournal;

// The single object behind the window and the command line. It owns the
// services that work on the user's files, publishes what the screens show and
// runs every user operation.
//
// Threads: the object and all of its published fields live on the thread that
// created it (the main thread); every method must be called there. Long work
// runs on worker threads and comes back through queued calls before anything
// is published. Each *Changed signal is emitted on the main thread after the
// field has its new value. busyChanged follows any change of isBusy().
//
// Only one long operation runs at a time: while isBusy() holds, a new one is
// refused with the status "Дождитесь завершения текущей операции".
class AppState : public QObject
{
    Q_OBJECT
    Q_PROPERTY(AppSettings settings READ settings WRITE setSettings NOTIFY settingsChanged)
    Q_PROPERTY(DiskInfoList disks READ disks NOTIFY disksChanged)
    Q_PROPERTY(ScanItemList scanItems READ scanItems NOTIFY scanItemsChanged)
    Q_PROPERTY(ScanProgress scanProgress READ scanProgress NOTIFY scanProgressChanged)
    Q_PROPERTY(std::optional<ScanCategory> selectedCategory READ selectedCategory NOTIFY selectedCategoryChanged)
    Q_PROPERTY(ScanCategorySet lastScanCategories READ lastScanCategories NOTIFY lastScanCategoriesChanged)
    Q_PROPERTY(std::optional<MoveResult> lastMoveResult READ lastMoveResult NOTIFY lastMoveResultChanged)
    Q_PROPERTY(std::optional<QString> statusMessage READ statusMessage NOTIFY statusMessageChanged)
    Q_PROPERTY(StorageStats storageStats READ storageStats NOTIFY storageStatsChanged)
    Q_PROPERTY(bool undoAvailable READ undoAvailable NOTIFY undoAvailableChanged)
    Q_PROPERTY(SafeCleanupCandidateList safeCleanupCandidates READ safeCleanupCandidates NOTIFY
                   safeCleanupCandidatesChanged)
    Q_PROPERTY(CleanArchiveProgress cleanArchiveProgress READ cleanArchiveProgress NOTIFY cleanArchiveProgressChanged)
    Q_PROPERTY(ScanProgress healthScanProgress READ healthScanProgress NOTIFY healthScanProgressChanged)
    Q_PROPERTY(CleanArchiveSummaryList cleanArchives READ cleanArchives NOTIFY cleanArchivesChanged)
    Q_PROPERTY(std::optional<MacHealthSnapshot> healthSnapshot READ healthSnapshot NOTIFY healthSnapshotChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY busyChanged)
    Q_PROPERTY(bool stopRequested READ stopRequested NOTIFY stopRequestedChanged)
    Q_PROPERTY(UsageTreePtr usageTree READ usageTree NOTIFY usageTreeChanged)

public:
    static inline const QString settingsKey = AppSettings::storeKey;
    static inline const QString moveLogKey = QStringLiteral("BriskoLastMoveBatch");
    static inline const QString historyKey = QStringLiteral("BriskoStorageHistory");
    static inline const QString busyMessage = QStringLiteral("Дождитесь завершения текущей операции");
    static inline const QString writerBusyMessage =
        QStringLiteral("Файлы сейчас меняет другая копия Brisko Vella — дождитесь её завершения");
    // Put before the status line of an operation that a stop request ended early.
    static inline const QString stoppedPrefix = QStringLiteral("Остановлено. ");
    static inline const QString oneCategoryMessage =
        QStringLiteral("Выберите одну категорию — сканируется и переносится только она");

    // Loads the settings and reads the volumes; no scan, network access or
    // file change happens here.
    explicit AppState(AppEnvironment environment, QObject* parent = nullptr);
    ~AppState() override;

    const AppSettings& settings() const { return m_settings; }
    void setSettings(const AppSettings& settings);
    const DiskInfoList& disks() const { return m_disks; }
    const ScanItemList& scanItems() const { return m_scanItems; }
    const ScanProgress& scanProgress() const { return m_scanProgress; }
    std::optional<ScanCategory> selectedCategory() const { return m_selectedCategory; }
    const ScanCategorySet& lastScanCategories() const { return m_lastScanCategories; }
    const std::optional<MoveResult>& lastMoveResult() const { return m_lastMoveResult; }
    const std::optional<QString>& statusMessage() const { return m_statusMessage; }
    const StorageStats& storageStats() const { return m_storageStats; }
    bool undoAvailable() const { return m_undoAvailable; }
    const SafeCleanupCandidateList& safeCleanupCandidates() const { return m_safeCleanupCandidates; }
    const CleanArchiveProgress& cleanArchiveProgress() const { return m_cleanArchiveProgress; }
    const ScanProgress& healthScanProgress() const { return m_healthScanProgress; }
    const CleanArchiveSummaryList& cleanArchives() const { return m_cleanArchives; }
    const std::optional<MacHealthSnapshot>& healthSnapshot() const { return m_healthSnapshot; }
    // The size map of the folder mapped last; null until a map was made.
    const UsageTreePtr& usageTree() const { return m_usageTree; }

    // Derived values, computed on every read.
    bool isBusy() const;
    ScanItemList selectedItems() const;
    ScanItemList selectedArchiveItems() const;
    ScanItemList selectedCleanableScanItems() const;
    qint64 totalSelectedActionableSize() const;
    qint64 selectedSafeCleanupSize() const;
    ScanItemList scopedScanItems() const;
    qint64 totalScanSize() const;
    bool activeScanCategoryIsReadOnly() const;
    // The volume holding the home folder (same device); else "/" or the
    // data volume, else the first one listed.
    std::optional<DiskInfo> primaryDisk() const;

    // Asks the running long operation (a scan, the Trash, a cleanup, a move,
    // creating or restoring a clean archive) to stop at its next item
    // boundary; nothing when none runs. What was done before the stop stays
    // done and the status line says so; a stopped scan or clean-archive
    // creation keeps nothing of its partial work.
    void requestStop();
    // A stop was asked for and the operation has not ended yet.
    bool stopRequested() const { return m_stopRequested; }

    void toggleSelection(const ScanItem& item);
    void selectAll(const ScanItemList& items, bool selected);
    void revealParentFolderForSelection();
    // Reads the mounted volumes again and publishes them (the "Обновить" of the volume list).
    void refreshDisks();

    void track(const QString& event, const QMap<QString, QString>& metadata = {});
    // Sends "ad_impression" for a banner that is now in front of the user,
    // unless it is the banner counted last: the launch counts the banner the
    // service starts with and the window counts each banner it shows, and
    // one showing must not count twice.
    void trackAdImpression(const QString& adId);
    // The anonymous installation id of the usage statistics (empty until one exists).
    QString anonymousId() const;
    // Whether settings().archivePath can take moved items, asked of the file
    // system on every call.
    ArchiveFolderStatus archiveFolderStatus() const;
    // Stores the settings; then, in the background, reconfigures the error
    // reporter with them. False when they could not be stored (the stored
    // value is then unchanged); the window has nobody to tell, scripts do.
    bool saveSettings();

    // The launch duties, once per state (later calls do nothing): configures
    // the error reporter in the background, installs the crash handler, sends
    // "app_launch", starts the banners and sends "ad_impression" with the id
    // of the banner shown, then, from the event loop, flushes the usage
    // events and after that checks for updates. The future finishes after
    // the update check (at once for a repeated call).
    QFuture<void> onLaunch(const LaunchDuties& duties);
    bool launchDutiesStarted() const { return m_launchDutiesStarted; }
    // The licence agreement was accepted now: stores eulaAccepted and eulaAcceptedAt.
    void acceptLicenceAgreement();
    // The first-launch introduction was finished: stores onboardingCompleted.
    void completeOnboarding();

    // Scans exactly one category. The future finishes after the results, the
    // status line and the usage events have been published (at once when the
    // scan is refused).
    QFuture<void> runScan(const ScanCategorySet& categories);

    // Moves the selected movable results to the Trash.
    QFuture<void> deleteSelectedScanItems();
    // Deletes the selected cache rows that may be cleaned without asking.
    QFuture<void> runSelectedScanCleanup();
    // Moves the selected movable results into settings().archivePath. The
    // future finishes after the result, history, status and events are out.
    QFuture<void> moveSelectedToArchive();
    // Moves the last batch back. The work runs off the main thread: moving
    // back across volumes copies, which can take long.
    QFuture<void> undoLastMove();
    // Lists the safe caches of well-known applications (synchronous, short).
    void scanSafeCleanup();
    void toggleSafeCleanupSelection(const QUuid& id, bool selected);
    // Deletes the selected safe caches, then lists again.
    QFuture<void> runSafeCleanup();
    // Files the loose files of the Downloads folder into the buckets of
    // its _Sorted folder. The future carries the sorter's result and finishes
    // after the status line, history, events and reports are out (an empty
    // result at once when refused).
    QFuture<SortResult> sortDownloads();
    // Scans the quick-scan categories and the safe caches, rates the storage
    // and publishes healthSnapshot. The future finishes after the status line
    // and the usage events are out.
    QFuture<void> runQuickHealthScan();

    // Finishes a move batch that a killed process left unfinished and
    // removes the partial copies such processes left (in the folders that
    // batch touched, the home and the archive folder), under the writer lock
    // (skipped while another process holds it). When it found something, the
    // status line says what; lastRecovery() keeps it for the command line.
    // Synchronous: run at start, before the first operation.
    MoveRecovery recoverInterruptedWork();
    const std::optional<MoveRecovery>& lastRecovery() const { return m_lastRecovery; }
    // Maps root (the home when empty, on its own file system unless
    // crossFileSystems): every folder's size, entries and
    // largest children, published as usageTree, with scanProgress counting
    // the entries found. A long operation like a scan; cancelUsageScan()
    // ends it early and the part found is published, marked cancelled.
    QFuture<void> runUsageScan(const FilePath& root = {}, bool crossFileSystems = false);
    void cancelUsageScan();
    // The actions of one entry of the map, as the results table has them
    // for its rows: the same operations, status lines, history and events.
    // After them (and after the results table's own actions and an undo)
    // the map is brought up to date by walking only what changed.
    QFuture<void> moveUsageEntryToArchive(const FilePath& path);
    QFuture<void> trashUsageEntry(const FilePath& path);
    // Only an entry the classifier rates safe is deleted.
    QFuture<void> cleanUsageEntry(const FilePath& path);

    // Asks the folder chooser for a new archive folder; cancelling changes nothing.
    void pickArchiveFolder();
    // Copies the profile's home folders into a new clean archive under
    // settings().archivePath (packed when compressCleanArchive is on). The
    // future carries the service's result and finishes after the archive
    // list, status line, event and reports are out (an empty result at once
    // when refused; cancelled when the state went away first).
    QFuture<CleanArchiveCreateResult> createCleanArchive(CleanArchiveProfile profile);
    // Puts the archive's entries back into the home folder where nothing of
    // the same name is; the future is like createCleanArchive's.
    QFuture<RestoreResult> restoreCleanArchive(const CleanArchiveSummary& summary);
    // The entries of a clean archive that a restore would skip because the
    // home folder has something of that name (synchronous, one look-up each).
    QStringList cleanArchiveEntriesAtHome(const CleanArchiveSummary& summary) const;
    // Lists the clean archives of settings().archivePath again (synchronous).
    void refreshCleanArchives();

    const FilePath& home() const { return m_env.home; }
    // Where things live in the home; built once with the state.
    const HomeLayout& layout() const { return m_layout; }
    // The file system the state works through; the window asks it whether
    // protected folders can be read.
    const FileSystemPtr& fileSystem() const { return m_env.fileSystem; }
    const DiskScanner& scanner() const { return m_scanner; }

Q_SIGNALS:
    void settingsChanged();
    void disksChanged();
    void scanItemsChanged();
    void scanProgressChanged();
    void selectedCategoryChanged();
    void lastMoveResultChanged();
    void storageStatsChanged();
    void undoAvailableChanged();
    void safeCleanupCandidatesChanged();
    void lastScanCategoriesChanged();
    void statusMessageChanged();
    void cleanArchiveProgressChanged();
    void healthScanProgressChanged();
    void cleanArchivesChanged();
    void healthSnapshotChanged();
    void busyChanged();
    void stopRequestedChanged();
    // A new map, or the map after a refresh of the entries an action changed.
    void usageTreeChanged();

protected:
    // Publishers for the operations of this object and its later extensions.
    void setDisks(const DiskInfoList& disks);
    void setScanItems(const ScanItemList& items);
    void setScanProgress(const ScanProgress& progress);
    void setSelectedCategory(std::optional<ScanCategory> category);
    void setLastScanCategories(const ScanCategorySet& categories);
    void setStatusMessage(const std::optional<QString>& message);
    void setLastMoveResult(const std::optional<MoveResult>& result);
    void setUndoAvailable(bool available);
    void setSafeCleanupCandidates(const SafeCleanupCandidateList& candidates);
    void refreshStats();
    // Publishes the start of a long operation in scanProgress.
    void startProgress(const QString& task);
    void stopProgress(const QString& task);
    // Removes the processed rows whose files are gone; failures stay as they were.
    void removeProcessedResults(const ScanItemList& processed);
    void reportErrors(AppFeature feature, const QStringList& errors, const QMap<QString, QString>& context);
    // Takes the writer lock for an operation that changes files or the move
    // log, held until the state is no longer busy. False (with the status
    // line saying why) when another process keeps it.
    bool claimWriterLock();
    FilePath journalFile() const;
    std::unique_ptr<MoveJournal> makeJournal() const;

    // What the running operation's worker asks at each item boundary.
    StopRequest stopRequest() const;
    // Publishes the archive service's progress on the main thread, busy until the result is in.
    CleanArchiveService::ProgressHandler archiveProgressRelay();
    void setCleanArchiveProgress(const CleanArchiveProgress& progress);
    void setHealthScanProgress(const ScanProgress& progress);

private:
    AppSettings loadSettings() const;
    // The bodies of the results table's actions, for the rows given.
    QFuture<void> trashItems(const ScanItemList& items);
    QFuture<void> cleanItems(const ScanItemList& items);
    QFuture<void> moveItemsToArchive(const ScanItemList& items);
    ScanItem usageItem(const FilePath& path) const;
    // Walks the paths again into the current map, in the background.
    // Refreshes run one at a time, each from the map the last one left.
    void refreshUsage(const QList<FilePath>& paths);
    void finishScan(ScanCategory category, const AppSettings& settings, ScanItemList items);
    // Emits busyChanged when isBusy() differs from before.
    void noteBusy(bool wasBusy);
    void setCleanArchives(const CleanArchiveSummaryList& archives);
    void setHealthSnapshot(const std::optional<MacHealthSnapshot>& snapshot);
    void finishSort(const SortResult& result);

    AppEnvironment m_env;
    HomeLayout m_layout;
    // The home and the layout's cache folder, resolved once: every deletion
    // and move below them descends from their descriptors without following
    // links, also when the cache folder is itself a link to another disk.
    TrustedRoots m_roots;
    // Raised by requestStop, lowered when an operation starts; the scanner's
    // file system reads it too.
    std::shared_ptr<std::atomic_bool> m_stop = std::make_shared<std::atomic_bool>(false);
    bool m_stopRequested = false;
    DiskScanner m_scanner;
    FileMover m_mover;
    DownloadsSorter m_downloadsSorter{m_env.fileSystem, m_layout.installerExtensions()};
    SafeCleanupService m_safeCleanup;
    StorageHistoryStore m_history;
    MoveLogStore m_moveLog;
    CleanArchiveService m_cleanArchive{m_env.fileSystem, m_layout, m_env.clock};

    AppSettings m_settings;
    DiskInfoList m_disks;
    ScanItemList m_scanItems;
    ScanProgress m_scanProgress;
    std::optional<ScanCategory> m_selectedCategory;
    ScanCategorySet m_lastScanCategories;
    std::optional<MoveResult> m_lastMoveResult;
    std::optional<QString> m_statusMessage;
    StorageStats m_storageStats;
    bool m_undoAvailable = false;
    SafeCleanupCandidateList m_safeCleanupCandidates;
    CleanArchiveProgress m_cleanArchiveProgress;
    ScanProgress m_healthScanProgress;
    CleanArchiveSummaryList m_cleanArchives;
    std::optional<MacHealthSnapshot> m_healthSnapshot;
    bool m_launchDutiesStarted = false;
    std::shared_ptr<WriterLock> m_writerLock;
    std::optional<MoveRecovery> m_lastRecovery;
    QString m_lastAdImpression;
    UsageWalker m_usageWalker{m_env.fileSystem};
    UsageTreePtr m_usageTree;
    std::shared_ptr<std::atomic<bool>> m_usageCancel;
    QList<FilePath> m_usagePending;
    bool m_usageRefreshing = false;
};
