#include "AppState.h"

#include "StoppableFileSystem.h"
#include "base/ByteCountFormatter.h"
#include "base/RussianPlural.h"
#include "scan/AppVideoTypes.h"
#include "scan/CacheClassifier.h"

#include "fileops/MoveJournal.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QProcessEnvironment>
#include <QPromise>
#include <QThreadPool>

#include <algorithm>

AppState::AppState(AppEnvironment environment, QObject* parent)
    : QObject(parent)
    , m_env(std::move(environment))
    , m_layout(m_env.layout ? *m_env.layout : HomeLayout::forThisSystem(m_env.home, QProcessEnvironment()))
    , m_roots(TrustedRoots::resolved(*m_env.fileSystem, {m_env.home, m_layout.userCaches()}))
    // Scans read through a view that stops listing folders once a stop is
    // asked for, so a deep walk ends at the next folder.
    , m_scanner(std::make_shared<StoppableFileSystem>(m_env.fileSystem, m_stop), m_layout, m_env.clock, m_env.volumes, AppVideoTypes::extensions())
    , m_mover(m_env.fileSystem, m_env.clock, m_roots)
    , m_safeCleanup(m_env.fileSystem, m_roots)
    , m_history(historyKey, 100, m_env.defaults, m_env.clock)
    , m_moveLog(moveLogKey, m_env.defaults, m_env.fileSystem, m_roots)
{
    m_settings = loadSettings();
    m_storageStats = m_history.stats();
    m_undoAvailable = m_moveLog.loadLastBatch().has_value();
    m_disks = m_scanner.diskInfo();
}

AppState::~AppState() = default;

bool AppState::claimWriterLock()
{
    if (m_env.defaultsFile.isEmpty() || m_writerLock) {
        return true;
    }
    QString error;
    m_writerLock = WriterLock::acquire(FilePath(m_env.defaultsFile.native() + ".writer-lock"), m_env.lockWait, &error);
    if (!m_writerLock) {
        setStatusMessage(writerBusyMessage + QStringLiteral(" (") + error + QStringLiteral(")"));
        return false;
    }
    return true;
}

FilePath AppState::journalFile() const
{
    return m_env.defaultsFile.isEmpty() ? FilePath() : FilePath(m_env.defaultsFile.native() + ".move-journal");
}

std::unique_ptr<MoveJournal> AppState::makeJournal() const
{
    if (m_env.defaultsFile.isEmpty()) {
        return {};
    }
    return std::make_unique<MoveJournal>(journalFile(), m_env.fileSystem, m_moveLog, m_env.clock, m_roots,
                                         m_env.defaultsFile.toString());
}

MoveRecovery AppState::recoverInterruptedWork()
{
    const std::unique_ptr<MoveJournal> journal = makeJournal();
    if (!journal) {
        return {};
    }
    QString error;
    const std::shared_ptr<WriterLock> lock =
        WriterLock::acquire(FilePath(m_env.defaultsFile.native() + ".writer-lock"), std::chrono::milliseconds(0), &error);
    if (!lock) {
        return {};
    }
    QList<FilePath> folders{m_env.home};
    if (!m_settings.archivePath.isEmpty()) {
        folders.append(FilePath::fromString(m_settings.archivePath));
    }
    const MoveRecovery recovery = journal->recover(folders);
    if (recovery.foundSomething()) {
        m_lastRecovery = recovery;
        setUndoAvailable(m_moveLog.loadLastBatch().has_value());
        setStatusMessage(recovery.statusLine());
        reportErrors(AppFeature::archiveMove, recovery.errors,
                     {{QStringLiteral("recovered"), QString::number(recovery.recorded)}});
    }
    return recovery;
}

AppSettings AppState::loadSettings() const
{
    AppSettings defaults = AppSettings::defaults(m_env.home.toString());
    defaults.archivePath = m_layout.defaultArchiveFolder().toString();
    const std::optional<QByteArray> stored = m_env.defaults->data(settingsKey);
    if (!stored) {
        return defaults;
    }
    // Strict: a value from a build with other fields, or a damaged one, is
    // replaced as a whole by the defaults; nothing is written back here.
    return AppSettings::fromJson(*stored).value_or(defaults);
}

void AppState::setSettings(const AppSettings& settings)
{
    if (m_settings == settings) {
        return;
    }
    m_settings = settings;
    Q_EMIT settingsChanged();
}

bool AppState::saveSettings()
{
    bool saved = false;
    if (const std::optional<QByteArray> json = m_settings.toJson()) {
        // A failed write leaves the previous value in place.
        saved = m_env.defaults->setData(settingsKey, *json);
    }
    const ErrorReportSinkPtr errors = m_env.errors;
    const AppSettings copy = m_settings;
    const QString anonymousId = m_env.usage->anonymousId();
    QThreadPool::globalInstance()->start([errors, copy, anonymousId] { errors->configure(copy, anonymousId); });
    return saved;
}

void AppState::track(const QString& event, const QMap<QString, QString>& metadata)
{
    m_env.usage->track(event, metadata, m_settings.analyticsEnabled, m_settings.analyticsEndpoint);
}

QString AppState::anonymousId() const
{
    return m_env.usage->anonymousId();
}

ArchiveFolderStatus AppState::archiveFolderStatus() const
{
    QByteArray path = QFile::encodeName(m_settings.archivePath);
    while (path.size() > 1 && path.endsWith('/')) {
        path.chop(1);
    }
    FileStat st;
    if (path.isEmpty() || !m_env.fileSystem->stat(path, true, &st)) {
        return ArchiveFolderStatus::willBeCreated;
    }
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray parent = slash > 0 ? path.left(slash) : QByteArrayLiteral("/");
    // Moves write into the folder itself, so a writable parent alone is not
    // enough to call the archive writable.
    const bool writable = st.isDirectory && m_env.fileSystem->isWritable(parent) && m_env.fileSystem->isWritable(path);
    return writable ? ArchiveFolderStatus::writable : ArchiveFolderStatus::notWritable;
}

bool AppState::isBusy() const
{
    return m_scanProgress.isRunning || m_cleanArchiveProgress.isRunning || m_healthScanProgress.isRunning;
}

ScanItemList AppState::selectedItems() const
{
    ScanItemList selected;
    for (const ScanItem& item : m_scanItems) {
        if (item.isSelected) {
            selected.append(item);
        }
    }
    return selected;
}

ScanItemList AppState::selectedArchiveItems() const
{
    ScanItemList items;
    for (const ScanItem& item : selectedItems()) {
        if (m_lastScanCategories.contains(item.category) && ScanCategories::isMovable(item.category)) {
            items.append(item);
        }
    }
    return items;
}

ScanItemList AppState::selectedCleanableScanItems() const
{
    ScanItemList items;
    for (const ScanItem& item : selectedItems()) {
        if (m_lastScanCategories.contains(item.category) && item.canAutoCleanup(m_layout)) {
            items.append(item);
        }
    }
    return items;
}

qint64 AppState::totalSelectedActionableSize() const
{
    qint64 total = 0;
    for (const ScanItem& item : selectedArchiveItems()) {
        total += item.size;
    }
    return total;
}

ScanItemList AppState::scopedScanItems() const
{
    if (m_lastScanCategories.isEmpty()) {
        return m_scanItems;
    }
    ScanItemList items;
    for (const ScanItem& item : m_scanItems) {
        if (m_lastScanCategories.contains(item.category)) {
            items.append(item);
        }
    }
    return items;
}

qint64 AppState::totalScanSize() const
{
    qint64 total = 0;
    for (const ScanItem& item : m_scanItems) {
        total += item.size;
    }
    return total;
}

bool AppState::activeScanCategoryIsReadOnly() const
{
    return m_lastScanCategories.size() == 1 && ScanCategories::isCleanable(*m_lastScanCategories.cbegin());
}

std::optional<DiskInfo> AppState::primaryDisk() const
{
    // The volume that fills when the home does: the one on the home's device.
    FileStat home;
    if (m_env.fileSystem->stat(m_env.home.native(), true, &home)) {
        for (const DiskInfo& disk : m_disks) {
            FileStat mount;
            if (m_env.fileSystem->stat(QFile::encodeName(disk.path), true, &mount) && mount.device == home.device) {
                return disk;
            }
        }
    }
    for (const DiskInfo& disk : m_disks) {
        if (disk.path.contains(QLatin1String("/System/Volumes/Data")) || disk.path == QLatin1String("/")) {
            return disk;
        }
    }
    if (m_disks.isEmpty()) {
        return std::nullopt;
    }
    return m_disks.first();
}

void AppState::toggleSelection(const ScanItem& item)
{
    for (ScanItem& entry : m_scanItems) {
        if (entry.id == item.id) {
            entry.isSelected = !entry.isSelected;
            Q_EMIT scanItemsChanged();
            return;
        }
    }
}

void AppState::selectAll(const ScanItemList& items, bool selected)
{
    QSet<QUuid> ids;
    for (const ScanItem& item : items) {
        ids.insert(item.id);
    }
    bool changed = false;
    for (ScanItem& entry : m_scanItems) {
        if (ids.contains(entry.id) && entry.isSelected != selected) {
            entry.isSelected = selected;
            changed = true;
        }
    }
    if (changed) {
        Q_EMIT scanItemsChanged();
    }
}

void AppState::revealParentFolderForSelection()
{
    const ScanItemList selected = selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    m_env.workspace->revealFile(selected.first().path);
}

QFuture<void> AppState::runScan(const ScanCategorySet& categories)
{
    if (isBusy()) {
        setStatusMessage(busyMessage);
        return QtFuture::makeReadyFuture();
    }
    if (categories.size() != 1) {
        setStatusMessage(oneCategoryMessage);
        return QtFuture::makeReadyFuture();
    }
    const ScanCategory category = *categories.cbegin();
    track(QStringLiteral("scan_started"), {{QStringLiteral("categories"), ScanCategories::rawValue(category)}});

    setScanProgress(ScanProgress{true, QStringLiteral("Подготовка…"), 0, 0.0});
    setScanItems({});
    setLastScanCategories(categories);
    setSelectedCategory(category);
    setLastMoveResult(std::nullopt);
    setStatusMessage(std::nullopt);

    const AppSettings settings = m_settings;
    const DiskScanner scanner = m_scanner;
    QPointer<AppState> self(this);
    const ScanProgressHandler onProgress = [self](const ScanProgress& progress) {
        OffThread::post<AppState>(self, [progress](AppState& state) {
            // The scanner's last report says it stopped, but the results are
            // not published yet: staying busy until finishScan keeps another
            // operation from starting in between.
            ScanProgress running = progress;
            running.isRunning = true;
            state.setScanProgress(running);
        });
    };
    return OffThread::run(this,
        [scanner, settings, categories, onProgress] { return scanner.scan(settings, categories, onProgress); },
        [category, settings](AppState& state, ScanItemList items) {
            state.finishScan(category, settings, std::move(items));
        });
}

void AppState::finishScan(ScanCategory category, const AppSettings& settings, ScanItemList items)
{
    if (m_stopRequested) {
        // A walk cut short sized folders only in part: nothing of it is shown.
        stopProgress(QStringLiteral("Остановлено"));
        setStatusMessage(ScanCategories::title(category, &settings) + QStringLiteral(": сканирование остановлено"));
        return;
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const ScanItem& a, const ScanItem& b) { return a.size > b.size; });
    if (ScanCategories::isCleanable(category)) {
        // Exactly the entries that may be cleaned without asking start selected.
        for (ScanItem& item : items) {
            item.isSelected = item.canAutoCleanup(m_layout);
        }
    }
    setScanItems(items);

    ScanProgress done = m_scanProgress;
    done.isRunning = false;
    done.currentTask = QStringLiteral("Готово");
    setScanProgress(done);

    refreshDisks();

    setStatusMessage(ScanCategories::title(category, &settings) + QStringLiteral(": найдено ")
                     + RussianPlural::count(m_scanItems.size(), RussianPlural::items) + QStringLiteral(" (")
                     + ByteCountFormatter::format(totalScanSize()) + QStringLiteral(")"));
    track(QStringLiteral("scan_completed"),
          {{QStringLiteral("items"), QString::number(m_scanItems.size())},
           {QStringLiteral("category"), ScanCategories::rawValue(category)}});
}

void AppState::refreshDisks()
{
    setDisks(m_scanner.diskInfo());
}

void AppState::noteBusy(bool wasBusy)
{
    const bool busy = isBusy();
    if (!busy) {
        m_writerLock.reset();
    }
    if (wasBusy == busy) {
        return;
    }
    if (busy) {
        // A stop asked for before belongs to an operation that is over.
        m_stop->store(false);
    } else if (m_stopRequested) {
        m_stopRequested = false;
        Q_EMIT stopRequestedChanged();
    }
    Q_EMIT busyChanged();
}

void AppState::requestStop()
{
    if (!isBusy() || m_stopRequested) {
        return;
    }
    m_stop->store(true);
    m_stopRequested = true;
    Q_EMIT stopRequestedChanged();
}

StopRequest AppState::stopRequest() const
{
    return [stop = m_stop] { return stop->load(); };
}

void AppState::setDisks(const DiskInfoList& disks)
{
    m_disks = disks;
    Q_EMIT disksChanged();
}

void AppState::setScanItems(const ScanItemList& items)
{
    m_scanItems = items;
    Q_EMIT scanItemsChanged();
}

void AppState::setScanProgress(const ScanProgress& progress)
{
    const bool wasBusy = isBusy();
    m_scanProgress = progress;
    Q_EMIT scanProgressChanged();
    noteBusy(wasBusy);
}

void AppState::setSelectedCategory(std::optional<ScanCategory> category)
{
    m_selectedCategory = category;
    Q_EMIT selectedCategoryChanged();
}

void AppState::setLastScanCategories(const ScanCategorySet& categories)
{
    m_lastScanCategories = categories;
    Q_EMIT lastScanCategoriesChanged();
}

void AppState::setLastMoveResult(const std::optional<MoveResult>& result)
{
    m_lastMoveResult = result;
    Q_EMIT lastMoveResultChanged();
}

void AppState::setUndoAvailable(bool available)
{
    if (m_undoAvailable == available) {
        return;
    }
    m_undoAvailable = available;
    Q_EMIT undoAvailableChanged();
}

void AppState::refreshStats()
{
    m_storageStats = m_history.stats();
    Q_EMIT storageStatsChanged();
}

void AppState::setStatusMessage(const std::optional<QString>& message)
{
    m_statusMessage = message;
    Q_EMIT statusMessageChanged();
}

void AppState::setCleanArchiveProgress(const CleanArchiveProgress& progress)
{
    const bool wasBusy = isBusy();
    m_cleanArchiveProgress = progress;
    Q_EMIT cleanArchiveProgressChanged();
    noteBusy(wasBusy);
}

void AppState::setHealthScanProgress(const ScanProgress& progress)
{
    const bool wasBusy = isBusy();
    m_healthScanProgress = progress;
    Q_EMIT healthScanProgressChanged();
    noteBusy(wasBusy);
}
