// The operations of AppState behind the Downloads sorter and the health
// panel.
#include "AppState.h"

#include "platform/StoredNumbers.h"

#include "base/ByteCountFormatter.h"
#include "base/RussianPlural.h"
#include "fans/SystemPermissionsHelper.h"
#include "health/MacHealthEvaluator.h"
#include "platform/PlatformSystemFacts.h"

#include <algorithm>

namespace {

// "Archives: 2, Documents: 5": QMap keeps the buckets in ascending order of
// their names, whatever order the files came in.
QString bucketSummary(const QMap<QString, qint64>& byBucket)
{
    QStringList parts;
    for (auto it = byBucket.cbegin(); it != byBucket.cend(); ++it) {
        parts.append(it.key() + QStringLiteral(": ") + QString::number(it.value()));
    }
    return parts.join(QStringLiteral(", "));
}

QString quickScanCategoryList()
{
    QStringList names;
    for (ScanCategory category : MacHealthEvaluator::quickScanCategories()) {
        names.append(ScanCategories::rawValue(category));
    }
    return names.join(QLatin1Char(','));
}

} // namespace

void AppState::setHealthSnapshot(const std::optional<MacHealthSnapshot>& snapshot)
{
    m_healthSnapshot = snapshot;
    Q_EMIT healthSnapshotChanged();
}

QFuture<SortResult> AppState::sortDownloads()
{
    if (isBusy()) {
        setStatusMessage(busyMessage);
        return QtFuture::makeReadyFuture(SortResult{});
    }
    if (!claimWriterLock()) {
        return QtFuture::makeReadyFuture(SortResult{});
    }
    startProgress(QStringLiteral("Сортировка Downloads…"));
    setStatusMessage(std::nullopt);

    auto sorted = std::make_shared<QPromise<SortResult>>();
    sorted->start();
    QFuture<SortResult> future = sorted->future();
    const DownloadsSorter sorter = m_downloadsSorter;
    // A disabled Downloads folder cannot be listed: the sorter says so.
    const FilePath downloads = m_layout.userFolder(UserFolder::downloads).value_or(FilePath());
    OffThread::run(this, [sorter, downloads] { return sorter.sortSync(downloads); },
                   [sorted](AppState& state, SortResult result) {
                       state.finishSort(result);
                       sorted->addResult(result);
                       sorted->finish();
                   });
    return future;
}

void AppState::finishSort(const SortResult& result)
{
    stopProgress(m_scanProgress.currentTask);
    refreshDisks();
    if (result.moved >= 1) {
        m_history.record(0, QStringLiteral("Сортировка Downloads"), result.moved);
        refreshStats();
    }
    // The folder under the name the user knows it by ("Загрузки").
    const std::optional<FilePath> downloads = m_layout.userFolder(UserFolder::downloads);
    const QString downloadsName = downloads ? downloads->fileName() : QStringLiteral("Downloads");
    setStatusMessage(QStringLiteral("Разложено ") + RussianPlural::count(result.moved, RussianPlural::files)
                     + QStringLiteral(" в ") + downloadsName + QStringLiteral("/_Sorted/ (") + bucketSummary(result.byBucket)
                     + QStringLiteral("). Пропущено папок: ") + QString::number(result.skipped)
                     + QStringLiteral(", ошибок: ") + QString::number(result.failed));
    track(QStringLiteral("downloads_sorted"), {{QStringLiteral("moved"), QString::number(result.moved)}});
    // An unreadable Downloads folder fails no single file, yet it is the
    // one failure the user most needs to hear of: it is reported too.
    reportErrors(AppFeature::downloadsSort, result.errors, {{QStringLiteral("moved"), QString::number(result.moved)}});
}

QFuture<void> AppState::runQuickHealthScan()
{
    if (isBusy()) {
        setStatusMessage(busyMessage);
        return QtFuture::makeReadyFuture();
    }
    track(QStringLiteral("health_scan_started"), {{QStringLiteral("categories"), quickScanCategoryList()}});
    setHealthScanProgress(ScanProgress{true, QStringLiteral("Проверка дисков…"), 0, 0.0});
    setStatusMessage(std::nullopt);
    refreshDisks();

    struct Findings
    {
        ScanItemList items;
        qint64 safeCleanupBytes = 0;
        MacHardwareInfo hardware;
        bool hasFullDiskAccess = false;
    };
    const QList<ScanCategory>& quick = MacHealthEvaluator::quickScanCategories();
    const ScanCategorySet categories(quick.cbegin(), quick.cend());
    const AppSettings settings = m_settings;
    const DiskScanner scanner = m_scanner;
    const SafeCleanupService safeCleanup = m_safeCleanup;
    const FileSystemPtr fs = m_env.fileSystem;
    const FilePath home = m_env.home;
    const HomeLayout layout = m_layout;
    const SystemFactsPtr facts = m_env.systemFacts;
    QPointer<AppState> self(this);
    const ScanProgressHandler onProgress = [self](const ScanProgress& progress) {
        OffThread::post<AppState>(self, [progress](AppState& state) {
            // The scanner's "Готово" comes before the snapshot is out.
            ScanProgress running = progress;
            running.isRunning = true;
            state.setHealthScanProgress(running);
        });
    };
    // Measuring the caches walks folders too: it runs here, off the main
    // thread, and its list is published before the first scan report.
    return OffThread::run(this,
        [self, categories, settings, scanner, safeCleanup, fs, home, layout, facts, onProgress] {
            Findings findings;
            const SafeCleanupCandidateList candidates = safeCleanup.scan(layout);
            OffThread::post<AppState>(self, [candidates](AppState& state) { state.setSafeCleanupCandidates(candidates); });
            findings.items = scanner.scan(settings, categories, onProgress);
            for (const SafeCleanupCandidate& candidate : candidates) {
                findings.safeCleanupBytes = StoredNumbers::add(findings.safeCleanupBytes, candidate.size);
            }
            findings.hardware = facts ? MacHardwareInfo::current(*facts) : MacHardwareInfo::current(PlatformSystemFacts());
            findings.hasFullDiskAccess = !SystemPermissionsHelper::needsFullDiskAccess(*fs, home);
            return findings;
        },
        [categories](AppState& state, Findings findings) {
            if (state.m_stopRequested) {
                // A cut-short walk would rate the disk on part of it: no verdict.
                ScanProgress stopped = state.m_healthScanProgress;
                stopped.isRunning = false;
                stopped.currentTask = QStringLiteral("Остановлено");
                state.setHealthScanProgress(stopped);
                state.setStatusMessage(QStringLiteral("Проверка остановлена"));
                return;
            }
            ScanItemList items = std::move(findings.items);
            std::stable_sort(items.begin(), items.end(),
                             [](const ScanItem& a, const ScanItem& b) { return a.size > b.size; });
            state.setScanItems(items);
            state.setLastScanCategories(categories);
            state.setSelectedCategory(std::nullopt);
            state.setLastMoveResult(std::nullopt);

            state.setHealthSnapshot(MacHealthEvaluator::evaluate(findings.hardware, state.primaryDisk(), items,
                                                                 findings.safeCleanupBytes,
                                                                 findings.hasFullDiskAccess, state.m_env.clock->now()));
            ScanProgress done = state.m_healthScanProgress;
            done.isRunning = false;
            done.currentTask = QStringLiteral("Готово");
            state.setHealthScanProgress(done);
            state.refreshDisks();

            const MacHealthSnapshot snapshot = *state.m_healthSnapshot;
            state.setStatusMessage(QStringLiteral("Оценка здоровья: ") + QString::number(snapshot.healthPercent)
                                   + QStringLiteral("% · можно освободить ")
                                   + ByteCountFormatter::format(snapshot.reclaimableBytes));
            state.track(QStringLiteral("health_scan_completed"),
                        {{QStringLiteral("health"), QString::number(snapshot.healthPercent)},
                         {QStringLiteral("items"), QString::number(snapshot.itemCount)},
                         {QStringLiteral("reclaimable"), QString::number(snapshot.reclaimableBytes)}});
        });
}
