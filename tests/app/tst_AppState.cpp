#include "BriskoTest.h"
#include "AppFixture.h"

#include "app/AppState.h"
#include "platform/SettingsDefaultsStore.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QSemaphore>
#include <QThread>

namespace {

constexpr qint64 MiB = qint64(1) << 20;

// Reaches the publishers that the health scan and clean archive operations use.
class TestableAppState : public AppState
{
public:
    using AppState::AppState;
    using AppState::setCleanArchiveProgress;
    using AppState::setHealthScanProgress;
};

} // namespace

class TestAppState : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void constructionLoadsSettingsAndVolumes();
    void corruptOrForeignStoredSettingsGiveDefaults();
    void saveSettingsStoresAndReconfiguresReporter();
    void refusedScansChangeOnlyTheStatus();
    void scanPublishesSortedResultsStatusAndEvents();
    void emptyScan();
    void cacheScanPreselectsExactlyTheSafeEntries();
    void selection();
    void primaryDiskIsTheHomesVolume();
    void destroyedDuringScanDoesNotCrash();
    void stoppedScanShowsNothingAndTheNextScanRuns();

private:
    std::unique_ptr<TestableAppState> makeState();
    QString sized(const QString& relative, qint64 bytes) { return m_fixture->sized(relative, bytes); }

    std::unique_ptr<AppFixture> m_fixture;
    // Shorthands into the fixture.
    TempHome* m_home = nullptr;
    std::shared_ptr<FaultInjectingFileSystem> m_fs;
    std::shared_ptr<SettingsDefaultsStore> m_store;
    std::shared_ptr<RecordingUsageSink> m_usage;
    std::shared_ptr<RecordingErrorSink> m_errors;
    std::shared_ptr<AppFixture::RecordingWorkspace> m_workspace;
    std::shared_ptr<AppFixture::FixedVolumes> m_volumes;
};

void TestAppState::init()
{
    m_fixture = std::make_unique<AppFixture>();
    m_home = &m_fixture->home;
    m_fs = m_fixture->fs;
    m_store = m_fixture->store;
    m_usage = m_fixture->usage;
    m_errors = m_fixture->errors;
    m_workspace = m_fixture->workspace;
    m_volumes = m_fixture->volumes;
}

std::unique_ptr<TestableAppState> TestAppState::makeState()
{
    return std::make_unique<TestableAppState>(m_fixture->environment());
}

void TestAppState::constructionLoadsSettingsAndVolumes()
{
    m_volumes->volumes = {{QStringLiteral("/"), QStringLiteral("root"), std::nullopt, 500 * (qint64(1) << 30),
                           200 * (qint64(1) << 30)}};
    auto state = makeState();
    QCOMPARE(state->settings(), AppSettings::defaults(m_home->path()));
    QCOMPARE(state->disks().size(), 1);
    QCOMPARE(state->disks().first().used, 300 * (qint64(1) << 30));
    QVERIFY(state->scanItems().isEmpty());
    QVERIFY(!state->statusMessage());
    QVERIFY(!state->selectedCategory());
    QVERIFY(!state->isBusy());
    // Nothing written, nothing sent.
    QVERIFY(!m_store->data(AppState::settingsKey));
    QVERIFY(m_usage->events.isEmpty());
}

void TestAppState::corruptOrForeignStoredSettingsGiveDefaults()
{
    AppSettings stored = AppSettings::defaults(m_home->path());
    stored.eulaAccepted = true;
    stored.largeFolderThresholdGB = 1.5;
    QVERIFY(m_store->setData(AppState::settingsKey, *stored.toJson()));
    QCOMPARE(makeState()->settings(), stored);

    QJsonObject object = QJsonDocument::fromJson(*stored.toJson()).object();
    object.remove(QLatin1String("showAds"));
    QVERIFY(m_store->setData(AppState::settingsKey, QJsonDocument(object).toJson()));
    // The whole record falls back, including the agreement flag.
    QCOMPARE(makeState()->settings(), AppSettings::defaults(m_home->path()));

    QVERIFY(m_store->setData(AppState::settingsKey, QByteArray("\x00\xff garbage", 10)));
    QCOMPARE(makeState()->settings(), AppSettings::defaults(m_home->path()));
}

void TestAppState::saveSettingsStoresAndReconfiguresReporter()
{
    auto state = makeState();
    QSignalSpy changed(state.get(), &AppState::settingsChanged);
    AppSettings s = state->settings();
    s.errorsEndpoint = QStringLiteral("https://example.test/errors");
    s.videoNamePrefix = QStringLiteral("Отпуск");
    state->setSettings(s);
    QCOMPARE(changed.size(), 1);
    state->setSettings(s);
    QCOMPARE(changed.size(), 1);
    QVERIFY(state->saveSettings());

    const QJsonObject stored = QJsonDocument::fromJson(*m_store->data(AppState::settingsKey)).object();
    QCOMPARE(stored.size(), 29);
    QCOMPARE(stored.value(QLatin1String("videoNamePrefix")).toString(), QStringLiteral("Отпуск"));
    QTRY_COMPARE(m_errors->configureCount(), 1);
    QCOMPARE(m_errors->configured.first(),
             std::make_pair(QStringLiteral("https://example.test/errors"), QStringLiteral("ANON-ID")));
    QCOMPARE(makeState()->settings(), s);

    // A record JSON cannot hold leaves the stored one as it was.
    const QByteArray before = *m_store->data(AppState::settingsKey);
    s.largeFileThresholdMB = std::numeric_limits<double>::infinity();
    state->setSettings(s);
    QVERIFY(!state->saveSettings());
    QCOMPARE(*m_store->data(AppState::settingsKey), before);
    QTRY_COMPARE(m_errors->configureCount(), 2);
}

void TestAppState::refusedScansChangeOnlyTheStatus()
{
    sized(QStringLiteral("Downloads/a.zip"), 10);
    auto state = makeState();
    QSignalSpy items(state.get(), &AppState::scanItemsChanged);
    QSignalSpy progress(state.get(), &AppState::scanProgressChanged);
    QSignalSpy category(state.get(), &AppState::selectedCategoryChanged);

    QFuture<void> f = state->runScan({});
    QVERIFY(f.isFinished());
    QCOMPARE(state->statusMessage().value_or(QString()), AppState::oneCategoryMessage);
    state->runScan({ScanCategory::downloadsInbox, ScanCategory::largeLooseFiles}).waitForFinished();
    QCOMPARE(state->statusMessage().value_or(QString()), AppState::oneCategoryMessage);

    state->setHealthScanProgress(ScanProgress{true, QStringLiteral("Проверка"), 0, 0.1});
    QVERIFY(state->isBusy());
    state->runScan({ScanCategory::downloadsInbox}).waitForFinished();
    QCOMPARE(state->statusMessage().value_or(QString()), AppState::busyMessage);
    state->setHealthScanProgress({});

    state->setCleanArchiveProgress(CleanArchiveProgress{true, QStringLiteral("Копирование"), 0.5, 3});
    state->runScan({ScanCategory::downloadsInbox}).waitForFinished();
    QCOMPARE(state->statusMessage().value_or(QString()), AppState::busyMessage);

    QCOMPARE(items.size(), 0);
    QCOMPARE(progress.size(), 0);
    QCOMPARE(category.size(), 0);
    QVERIFY(m_usage->events.isEmpty());
}

void TestAppState::scanPublishesSortedResultsStatusAndEvents()
{
    sized(QStringLiteral("Downloads/средний.zip"), 3 * MiB);
    sized(QStringLiteral("Downloads/big.iso"), 900 * MiB);
    sized(QStringLiteral("Downloads/small.txt"), 1000);
    sized(QStringLiteral("Downloads/same-b.bin"), 1000);
    auto state = makeState();
    QSignalSpy progress(state.get(), &AppState::scanProgressChanged);
    QSignalSpy busy(state.get(), &AppState::busyChanged);
    QList<ScanProgress> seen;
    bool allOnMainThread = true;
    connect(state.get(), &AppState::scanProgressChanged, this, [&] {
        seen.append(state->scanProgress());
        allOnMainThread = allOnMainThread && QThread::currentThread() == thread();
    });

    QFuture<void> done = state->runScan({ScanCategory::downloadsInbox});
    QVERIFY(state->isBusy());
    QCOMPARE(state->scanProgress().currentTask, QStringLiteral("Подготовка…"));
    QCOMPARE(state->selectedCategory(), ScanCategory::downloadsInbox);
    QCOMPARE(state->lastScanCategories(), ScanCategorySet{ScanCategory::downloadsInbox});
    QVERIFY(!state->statusMessage());
    // A second scan while this one runs is refused.
    state->runScan({ScanCategory::largeLooseFiles});
    QCOMPARE(state->statusMessage().value_or(QString()), AppState::busyMessage);

    QTRY_VERIFY(done.isFinished());
    QVERIFY(allOnMainThread);
    QVERIFY(!state->isBusy());
    QVERIFY(busy.size() >= 2);
    QCOMPARE(seen.first().currentTask, QStringLiteral("Подготовка…"));
    QCOMPARE(seen.last().currentTask, QStringLiteral("Готово"));
    QVERIFY(!seen.last().isRunning);
    // Busy until the results are out: only the last report stops the scan.
    for (int i = 0; i + 1 < seen.size(); ++i) {
        QVERIFY(seen[i].isRunning);
    }
    QCOMPARE(seen.last().progress, 1.0);
    QVERIFY(std::any_of(seen.cbegin(), seen.cend(), [](const ScanProgress& p) {
        return p.currentTask == QStringLiteral("Downloads (файлы в корне)") && p.isRunning;
    }));

    const ScanItemList items = state->scanItems();
    QCOMPARE(items.size(), 4);
    QCOMPARE(items[0].name, QStringLiteral("big.iso"));
    QCOMPARE(items[1].name, QStringLiteral("средний.zip"));
    for (int i = 1; i < items.size(); ++i) {
        QVERIFY(items[i - 1].size >= items[i].size);
    }
    const qint64 total = 900 * MiB + 3 * MiB + 2000;
    QCOMPARE(state->totalScanSize(), total);
    QCOMPARE(state->statusMessage().value_or(QString()),
             QStringLiteral("Downloads (файлы в корне): найдено 4 элемента (946,9\u00a0МБ)"));

    QCOMPARE(m_usage->events.size(), 2);
    QCOMPARE(m_usage->events[0].name, QStringLiteral("scan_started"));
    QCOMPARE(m_usage->events[0].metadata,
             (QMap<QString, QString>{{QStringLiteral("categories"), QStringLiteral("downloadsInbox")}}));
    QCOMPARE(m_usage->events[1].name, QStringLiteral("scan_completed"));
    QCOMPARE(m_usage->events[1].metadata, (QMap<QString, QString>{{QStringLiteral("items"), QStringLiteral("4")},
                                                                  {QStringLiteral("category"),
                                                                   QStringLiteral("downloadsInbox")}}));
    QVERIFY(m_usage->events[1].enabled);

    // Every row is movable and selected: all of it counts as actionable.
    QCOMPARE(state->totalSelectedActionableSize(), total);
    state->toggleSelection(items[0]);
    QCOMPARE(state->totalSelectedActionableSize(), total - 900 * MiB);
    QCOMPARE(state->totalScanSize(), total);
    QVERIFY(!state->activeScanCategoryIsReadOnly());
    QVERIFY(state->selectedCleanableScanItems().isEmpty());
}

void TestAppState::emptyScan()
{
    auto state = makeState();
    QFuture<void> done = state->runScan({ScanCategory::appCaches});
    QTRY_VERIFY(done.isFinished());
    QVERIFY(state->scanItems().isEmpty());
    QCOMPARE(state->scanProgress().currentTask, QStringLiteral("Готово"));
    QCOMPARE(state->statusMessage().value_or(QString()), QStringLiteral("Кэши приложений: найдено 0 элементов (0\u00a0байт)"));
}

void TestAppState::cacheScanPreselectsExactlyTheSafeEntries()
{
    sized(QStringLiteral("Library/Caches/com.example.app/blob"), 8 * MiB);
    sized(QStringLiteral("Library/Caches/ru.keepcoder.Telegram/blob"), 9 * MiB);
    sized(QStringLiteral("Library/Logs/App/log"), 7 * MiB);
    sized(QStringLiteral(".Trash/old"), 100);
    auto state = makeState();
    QFuture<void> done = state->runScan({ScanCategory::systemJunk});
    QTRY_VERIFY(done.isFinished());
    const ScanItemList items = state->scanItems();
    QCOMPARE(items.size(), 4);
    QStringList selected;
    for (const ScanItem& item : items) {
        QCOMPARE(item.isSelected, item.canAutoCleanup(state->layout()));
        if (item.isSelected) {
            selected.append(item.name);
        }
    }
    QCOMPARE(selected, (QStringList{QStringLiteral("ru.keepcoder.Telegram"), QStringLiteral("com.example.app")}));
    QVERIFY(state->activeScanCategoryIsReadOnly());
    QVERIFY(state->selectedArchiveItems().isEmpty());
    QCOMPARE(state->totalSelectedActionableSize(), 0);
    QCOMPARE(state->selectedCleanableScanItems().size(), 2);

    // Selecting the Trash by hand does not make it cleanable.
    state->selectAll(state->scanItems(), true);
    QCOMPARE(state->selectedItems().size(), 4);
    QCOMPARE(state->selectedCleanableScanItems().size(), 2);
}

void TestAppState::selection()
{
    sized(QStringLiteral("Downloads/a.bin"), 3000);
    sized(QStringLiteral("Downloads/b.bin"), 2000);
    sized(QStringLiteral("Downloads/c.bin"), 1000);
    auto state = makeState();
    QFuture<void> done = state->runScan({ScanCategory::downloadsInbox});
    QTRY_VERIFY(done.isFinished());
    const ScanItemList items = state->scanItems();

    QSignalSpy changed(state.get(), &AppState::scanItemsChanged);
    ScanItem stranger = items[0];
    stranger.id = QUuid::createUuid();
    state->toggleSelection(stranger);
    QCOMPARE(state->scanItems(), items);
    QCOMPARE(changed.size(), 0);

    state->selectAll({items[0], items[2], stranger}, false);
    QCOMPARE(state->selectedItems().size(), 1);
    QCOMPARE(state->selectedItems().first().id, items[1].id);
    state->toggleSelection(items[2]);
    QCOMPARE(state->selectedItems().size(), 2);

    state->revealParentFolderForSelection();
    QCOMPARE(m_workspace->revealed, QList<FilePath>{items[1].path});
    state->selectAll(items, false);
    state->revealParentFolderForSelection();
    QCOMPARE(m_workspace->revealed.size(), 1);
    QCOMPARE(state->scopedScanItems().size(), 3);
}

void TestAppState::primaryDiskIsTheHomesVolume()
{
    const qint64 GiB = qint64(1) << 30;
    m_volumes->volumes = {
        {QStringLiteral("/media/archive"), QStringLiteral("Архив"), std::nullopt, 2000 * GiB, 100 * GiB},
        {QStringLiteral("/"), QStringLiteral("root"), std::nullopt, 500 * GiB, 300 * GiB},
        {QStringLiteral("/boot/efi"), QStringLiteral("efi"), std::nullopt, GiB / 2, GiB / 4},
    };
    auto state = makeState();
    QCOMPARE(state->disks().size(), 2);
    QCOMPARE(state->disks().first().path, QStringLiteral("/media/archive"));
    QCOMPARE(state->primaryDisk()->path, QStringLiteral("/"));
    m_volumes->volumes = {{QStringLiteral("/media/x"), QStringLiteral("x"), std::nullopt, 10 * GiB, GiB}};
    QCOMPARE(makeState()->primaryDisk()->path, QStringLiteral("/media/x"));
    m_volumes->volumes.clear();
    QVERIFY(!makeState()->primaryDisk());

    // The volume that holds the home wins over a fuller one elsewhere.
    m_volumes->volumes = {
        {QStringLiteral("/proc"), QStringLiteral("proc"), std::nullopt, 2000 * GiB, 100 * GiB},
        {m_home->path(), QStringLiteral("home"), std::nullopt, 10 * GiB, GiB},
    };
    QCOMPARE(makeState()->primaryDisk()->path, m_home->path());
}

void TestAppState::destroyedDuringScanDoesNotCrash()
{
    for (int i = 0; i < 50; ++i) {
        sized(QStringLiteral("Downloads/f%1").arg(i), 100);
    }
    auto state = makeState();
    QFuture<void> done = state->runScan({ScanCategory::downloadsInbox});
    state.reset();
    // Queued progress for the gone object must be dropped, not delivered, and
    // the results have nobody to go to.
    QTest::qWait(50);
    done.waitForFinished();
    QVERIFY(done.isCanceled());
}

void TestAppState::stoppedScanShowsNothingAndTheNextScanRuns()
{
    // Far above any threshold of the large-folder scan.
    sized(QStringLiteral("Downloads/папка/a.bin"), 4096 * 1024 * MiB);
    QSemaphore reached;
    QSemaphore proceed;
    std::atomic_bool held = false;
    // The walk waits inside the folder until the stop has been asked for.
    m_fs->setOnOpen([&](const QByteArray& path) {
        if (path.endsWith(QStringLiteral("/папка").toUtf8()) && !held.exchange(true)) {
            reached.release();
            proceed.acquire();
        }
    });
    auto state = makeState();
    QVERIFY(!state->stopRequested());
    state->requestStop();
    QVERIFY(!state->stopRequested());

    QFuture<void> stopped = state->runScan({ScanCategory::largeFolders});
    QVERIFY(reached.tryAcquire(1, 20000));
    state->requestStop();
    QVERIFY(state->stopRequested());
    proceed.release();
    QTRY_VERIFY(stopped.isFinished());
    QVERIFY(!state->isBusy());
    QVERIFY(!state->stopRequested());
    QVERIFY(state->scanItems().isEmpty());
    QCOMPARE(state->scanProgress().currentTask, QStringLiteral("Остановлено"));
    QCOMPARE(state->statusMessage(), QStringLiteral("Большие папки: сканирование остановлено"));

    QFuture<void> again = state->runScan({ScanCategory::largeFolders});
    QTRY_VERIFY(again.isFinished());
    QCOMPARE(state->scanItems().size(), 1);
}

BRISKO_TEST(TestAppState)
#include "tst_AppState.moc"
