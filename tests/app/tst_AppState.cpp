#include "BriskoTest.h"
#include "TestValues.h"
#include "AppFixture.h"
#include "LoopbackMakerServer.h"

#include "app/AppState.h"
#include "model/AppSettings.h"
#include "model/ReferenceDate.h"
#include "server/AdService.h"
#include "server/HttpTransport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPromise>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QThreadPool>

namespace {

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
    void init() { m_f = std::make_unique<AppFixture>(); }
    void settingsDefaultsAndRoundTrip()
    {
        AppSettings s = AppSettings::defaults(QStringLiteral("/home/пользователь"));
        QCOMPARE(s.archivePath, QStringLiteral("/home/пользователь/Movies/Brisko Archive"));
        QCOMPARE(AppSettings::defaults(QStringLiteral("/home/u/")).archivePath, QStringLiteral("/home/u/Movies/Brisko Archive"));
        // Nothing is agreed to on the user's behalf.
        QVERIFY(!s.eulaAccepted && !s.eulaAcceptedAt && !s.onboardingCompleted);
        QCOMPARE(s.excludedPaths, (QStringList{QStringLiteral("Library"), QStringLiteral("node_modules"),
                                               QStringLiteral(".Trash"), QStringLiteral(".npm"), QStringLiteral(".cache")}));

        // The fields' round trip is the settings commands' test; here the
        // absent date is left out, a present one survives bit for bit.
        s.videoNamePrefix = QStringLiteral("Отпуск «2024»\n\"quoted\"");
        QVERIFY(!QJsonDocument::fromJson(*s.toJson()).object().contains(QLatin1String("eulaAcceptedAt")));
        QCOMPARE(AppSettings::fromJson(*s.toJson()), s);
        const QDateTime accepted = QDateTime(QDate(2026, 3, 14), QTime(6, 30, 15, 123), Qt::UTC);
        s.eulaAcceptedAt = ReferenceDate::fromDateTime(accepted) + 0.000456789;
        const std::optional<AppSettings> back = AppSettings::fromJson(*s.toJson());
        QVERIFY(back);
        QCOMPARE(std::memcmp(&*back->eulaAcceptedAt, &*s.eulaAcceptedAt, sizeof(double)), 0);
        QCOMPARE(ReferenceDate::toDateTime(*back->eulaAcceptedAt), accepted);
        QVERIFY(!AppSettings::fromJson("{not json"));
        QVERIFY(!AppSettings::fromJson("[]"));
        // Numbers JSON cannot hold are not encoded at all.
        s.largeFileThresholdMB = std::nan("");
        QVERIFY(!s.toJson());
        s.largeFileThresholdMB = 1;
        s.eulaAcceptedAt = INFINITY;
        QVERIFY(!s.toJson());
    }

    void settingsDecoding_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value"); // undefined = remove the key
        QTest::addColumn<bool>("accepted");
        const QJsonValue removed(QJsonValue::Undefined);
        QTest::newRow("key of a later version") << "someFutureField" << QJsonValue(1) << true;
        QTest::newRow("missing showAds") << "showAds" << removed << false;
        QTest::newRow("missing excludedPaths") << "excludedPaths" << removed << false;
        QTest::newRow("bool as string") << "showAds" << QJsonValue(QStringLiteral("true")) << false;
        QTest::newRow("number as string") << "largeFolderThresholdGB" << QJsonValue(QStringLiteral("5")) << false;
        QTest::newRow("fractional integer") << "archiveCandidateMinDays" << QJsonValue(60.5) << false;
        QTest::newRow("unknown video mode") << "videoSearchMode" << QJsonValue(QStringLiteral("byName")) << false;
        QTest::newRow("unknown fan mode") << "fanControlMode" << QJsonValue(QStringLiteral("turbo")) << false;
        QTest::newRow("null string") << "archivePath" << QJsonValue(QJsonValue::Null) << false;
        QTest::newRow("array with a number") << "excludedPaths" << QJsonValue(QJsonArray{QStringLiteral("a"), 1}) << false;
        QTest::newRow("date as string") << "eulaAcceptedAt" << QJsonValue(QStringLiteral("2024-01-01")) << false;
    }

    void settingsDecoding()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QFETCH(bool, accepted);
        AppSettings s = AppSettings::defaults(QStringLiteral("/home/u"));
        s.eulaAccepted = true;
        QJsonObject object;
        QVERIFY(s.toJsonObject(&object));
        if (value.isUndefined())
            object.remove(key);
        else
            object.insert(key, value);
        QCOMPARE(AppSettings::fromJsonObject(object), accepted ? std::optional(s) : std::nullopt);
        QCOMPARE(AppSettings::fromJson(QJsonDocument(object).toJson()), accepted ? std::optional(s) : std::nullopt);
    }

    void constructionLoadsSettingsAndVolumes()
    {
        m_f->volumes->volumes = {{QStringLiteral("/"), QStringLiteral("root"), std::nullopt, 500 * GiB, 200 * GiB}};
        auto state = makeState();
        QCOMPARE(state->settings(), AppSettings::defaults(m_f->home.path()));
        QCOMPARE(state->disks().size(), 1);
        QVERIFY(state->scanItems().isEmpty());
        QVERIFY(!state->statusMessage());
        QVERIFY(!state->isBusy());
        // Nothing written, nothing sent.
        QVERIFY(!m_f->store->data(AppState::settingsKey));
        QVERIFY(m_f->usage->events.isEmpty());

        AppSettings stored = AppSettings::defaults(m_f->home.path());
        stored.eulaAccepted = true;
        QVERIFY(m_f->store->setData(AppState::settingsKey, *stored.toJson()));
        QCOMPARE(makeState()->settings(), stored);
        // A record that does not decode falls back whole, the agreement flag included.
        QVERIFY(m_f->store->setData(AppState::settingsKey, QByteArray("\x00\xff garbage", 10)));
        QCOMPARE(makeState()->settings(), AppSettings::defaults(m_f->home.path()));
    }

    void saveSettingsStoresAndReconfiguresReporter()
    {
        auto state = makeState();
        QSignalSpy changed(state.get(), &AppState::settingsChanged);
        AppSettings s = state->settings();
        s.errorsEndpoint = QStringLiteral("https://example.test/errors");
        s.videoNamePrefix = QStringLiteral("Отпуск");
        state->setSettings(s);
        state->setSettings(s);
        QCOMPARE(changed.size(), 1);
        QVERIFY(state->saveSettings());
        QTRY_COMPARE(m_f->errors->configureCount(), 1);
        QCOMPARE(m_f->errors->configured.first(),
                 std::make_pair(QStringLiteral("https://example.test/errors"), QStringLiteral("ANON-ID")));
        QCOMPARE(makeState()->settings(), s);

        // A record JSON cannot hold leaves the stored one as it was.
        const QByteArray before = *m_f->store->data(AppState::settingsKey);
        s.largeFileThresholdMB = std::numeric_limits<double>::infinity();
        state->setSettings(s);
        QVERIFY(!state->saveSettings());
        QCOMPARE(*m_f->store->data(AppState::settingsKey), before);
        QTRY_COMPARE(m_f->errors->configureCount(), 2);
    }

    void refusedScansChangeOnlyTheStatus()
    {
        m_f->sized(QStringLiteral("Downloads/a.zip"), 10);
        auto state = makeState();
        QSignalSpy items(state.get(), &AppState::scanItemsChanged);
        QSignalSpy progress(state.get(), &AppState::scanProgressChanged);
        const auto refused = [&](const ScanCategorySet& categories, const QString& message) {
            QVERIFY(state->runScan(categories).isFinished());
            QCOMPARE(status(*state), message);
        };
        refused({}, AppState::oneCategoryMessage);
        refused({ScanCategory::downloadsInbox, ScanCategory::largeLooseFiles}, AppState::oneCategoryMessage);
        state->setHealthScanProgress(ScanProgress{true, QStringLiteral("Проверка"), 0, 0.1});
        QVERIFY(state->isBusy());
        refused({ScanCategory::downloadsInbox}, AppState::busyMessage);
        state->setHealthScanProgress({});
        state->setCleanArchiveProgress(CleanArchiveProgress{true, QStringLiteral("Копирование"), 0.5, 3});
        refused({ScanCategory::downloadsInbox}, AppState::busyMessage);
        QCOMPARE(items.size(), 0);
        QCOMPARE(progress.size(), 0);
        QVERIFY(m_f->usage->events.isEmpty());
    }

    void scanPublishesSortedResultsStatusAndEvents()
    {
        m_f->sized(QStringLiteral("Downloads/средний.zip"), 3 * MiB);
        m_f->sized(QStringLiteral("Downloads/big.iso"), 900 * MiB);
        m_f->sized(QStringLiteral("Downloads/small.txt"), 1000);
        m_f->sized(QStringLiteral("Downloads/same-b.bin"), 1000);
        auto state = makeState();
        QList<ScanProgress> seen;
        bool allOnMainThread = true;
        connect(state.get(), &AppState::scanProgressChanged, this, [&] {
            seen.append(state->scanProgress());
            allOnMainThread = allOnMainThread && QThread::currentThread() == thread();
        });

        QFuture<void> done = state->runScan({ScanCategory::downloadsInbox});
        QVERIFY(state->isBusy());
        QCOMPARE(state->selectedCategory(), ScanCategory::downloadsInbox);
        // A second scan while this one runs is refused.
        state->runScan({ScanCategory::largeLooseFiles});
        QCOMPARE(status(*state), AppState::busyMessage);
        finish(done);
        QVERIFY(allOnMainThread);
        QVERIFY(!state->isBusy());
        QCOMPARE(seen.first().currentTask, QStringLiteral("Подготовка…"));
        // Busy until the results are out: only the last report stops the scan.
        for (int i = 0; i + 1 < seen.size(); ++i)
            QVERIFY(seen[i].isRunning);
        QCOMPARE(seen.last().currentTask, QStringLiteral("Готово"));
        QVERIFY(!seen.last().isRunning);
        QCOMPARE(seen.last().progress, 1.0);

        const ScanItemList items = state->scanItems();
        QCOMPARE(items.size(), 4);
        QCOMPARE(items[0].name, QStringLiteral("big.iso"));
        QCOMPARE(items[1].name, QStringLiteral("средний.zip"));
        const qint64 total = 900 * MiB + 3 * MiB + 2000;
        QCOMPARE(state->totalScanSize(), total);
        QCOMPARE(status(*state), QStringLiteral("Downloads (файлы в корне): найдено 4 элемента (946,9\u00a0МБ)"));
        QCOMPARE(m_f->usage->names(), (QStringList{QStringLiteral("scan_started"), QStringLiteral("scan_completed")}));
        QCOMPARE(m_f->usage->events[0].metadata,
                 (QMap<QString, QString>{{QStringLiteral("categories"), QStringLiteral("downloadsInbox")}}));
        QCOMPARE(m_f->usage->events[1].metadata,
                 (QMap<QString, QString>{{QStringLiteral("items"), QStringLiteral("4")},
                                         {QStringLiteral("category"), QStringLiteral("downloadsInbox")}}));

        // Every row is movable and selected: all of it counts as actionable.
        QCOMPARE(state->totalSelectedActionableSize(), total);
        QVERIFY(!state->activeScanCategoryIsReadOnly());
    }

    void cacheScanPreselectsExactlyTheSafeEntries()
    {
        m_f->sized(QStringLiteral("Library/Caches/com.example.app/blob"), 8 * MiB);
        m_f->sized(QStringLiteral("Library/Caches/ru.keepcoder.Telegram/blob"), 9 * MiB);
        m_f->sized(QStringLiteral("Library/Logs/App/log"), 7 * MiB);
        m_f->sized(QStringLiteral(".Trash/old"), 100);
        auto state = scanned(ScanCategory::systemJunk);
        QStringList selected;
        for (const ScanItem& item : state->selectedItems())
            selected.append(item.name);
        QCOMPARE(state->scanItems().size(), 4);
        QCOMPARE(selected, (QStringList{QStringLiteral("ru.keepcoder.Telegram"), QStringLiteral("com.example.app")}));
        QVERIFY(state->activeScanCategoryIsReadOnly());
        QVERIFY(state->selectedArchiveItems().isEmpty());
        QCOMPARE(state->totalSelectedActionableSize(), 0);
        // Selecting the Trash by hand does not make it cleanable.
        state->selectAll(state->scanItems(), true);
        QCOMPARE(state->selectedItems().size(), 4);
        QCOMPARE(state->selectedCleanableScanItems().size(), 2);
    }

    void selection()
    {
        m_f->sized(QStringLiteral("Downloads/a.bin"), 3000);
        m_f->sized(QStringLiteral("Downloads/b.bin"), 2000);
        m_f->sized(QStringLiteral("Downloads/c.bin"), 1000);
        auto state = scanned(ScanCategory::downloadsInbox);
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
        QCOMPARE(m_f->workspace->revealed, QList<FilePath>{items[1].path});
        state->selectAll(items, false);
        state->revealParentFolderForSelection();
        QCOMPARE(m_f->workspace->revealed.size(), 1);
    }

    void primaryDiskIsTheHomesVolume()
    {
        m_f->volumes->volumes = {
            {QStringLiteral("/media/archive"), QStringLiteral("Архив"), std::nullopt, 2000 * GiB, 100 * GiB},
            {QStringLiteral("/"), QStringLiteral("root"), std::nullopt, 500 * GiB, 300 * GiB},
        };
        auto state = makeState();
        QCOMPARE(state->disks().first().path, QStringLiteral("/media/archive"));
        QCOMPARE(state->primaryDisk()->path, QStringLiteral("/"));
        m_f->volumes->volumes.clear();
        QVERIFY(!makeState()->primaryDisk());
        // The volume that holds the home wins over a fuller one elsewhere.
        m_f->volumes->volumes = {
            {QStringLiteral("/proc"), QStringLiteral("proc"), std::nullopt, 2000 * GiB, 100 * GiB},
            {m_f->home.path(), QStringLiteral("home"), std::nullopt, 10 * GiB, GiB},
        };
        QCOMPARE(makeState()->primaryDisk()->path, m_f->home.path());
    }

    void stoppedScanShowsNothingAndTheNextScanRuns()
    {
        // Far above any threshold of the large-folder scan.
        m_f->sized(QStringLiteral("Downloads/папка/a.bin"), 4096 * GiB);
        QSemaphore reached;
        QSemaphore proceed;
        std::atomic_bool held = false;
        // The walk waits inside the folder until the stop has been asked for.
        m_f->fs->setOnOpen([&](const QByteArray& path) {
            if (path.endsWith(QStringLiteral("/папка").toUtf8()) && !held.exchange(true)) {
                reached.release();
                proceed.acquire();
            }
        });
        auto state = makeState();
        // A stop with nothing running is forgotten.
        state->requestStop();
        QVERIFY(!state->stopRequested());

        QFuture<void> stopped = state->runScan({ScanCategory::largeFolders});
        QVERIFY(reached.tryAcquire(1, 20000));
        state->requestStop();
        QVERIFY(state->stopRequested());
        proceed.release();
        finish(stopped);
        QVERIFY(!state->isBusy());
        QVERIFY(!state->stopRequested());
        QVERIFY(state->scanItems().isEmpty());
        QCOMPARE(state->scanProgress().currentTask, QStringLiteral("Остановлено"));
        QCOMPARE(state->statusMessage(), QStringLiteral("Большие папки: сканирование остановлено"));
        finish(state->runScan({ScanCategory::largeFolders}));
        QCOMPARE(state->scanItems().size(), 1);
    }

    void launchDutiesRunInOrderAndOnlyOnce()
    {
        const auto state = launchState();
        QVERIFY(!state->launchDutiesStarted());
        const QFuture<void> launched = state->onLaunch(recordingDuties());
        QVERIFY(state->launchDutiesStarted());
        // The synchronous part: crash handler, then the two events.
        QCOMPARE(m_calls, QStringList{QStringLiteral("crash handler")});
        QCOMPARE(m_f->usage->names(), (QStringList{QStringLiteral("app_launch"), QStringLiteral("ad_impression")}));
        QVERIFY(m_f->usage->events.first().metadata.isEmpty());
        const QString shownId = m_f->usage->events.last().metadata.value(QStringLiteral("ad_id"));
        QVERIFY(!shownId.isEmpty());
        QCOMPARE(shownId, m_ads->currentAd().id);

        // The reporter is configured in the background with the settings and the anonymous id.
        QTRY_COMPARE(m_f->errors->configureCount(), 1);
        {
            QMutexLocker lock(&m_f->errors->mutex);
            QCOMPARE(m_f->errors->configured.first(),
                     std::make_pair(state->settings().errorsEndpoint, QStringLiteral("ANON-ID")));
        }
        // The banner service was started with the configured address.
        QTRY_COMPARE(m_server->count(QStringLiteral("/api/brisko/ads.json")), qsizetype(1));

        // However long the flush takes, the update check waits for it; one that
        // is given up on still lets the check run.
        const QString flush = QStringLiteral("flush ") + state->settings().analyticsEndpoint + QStringLiteral(" false");
        QTRY_COMPARE(m_calls, (QStringList{QStringLiteral("crash handler"), flush}));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(m_calls.size(), 2);
        m_flushPromise->future().cancel();
        m_flushPromise->finish();
        QTRY_COMPARE(m_calls.size(), 3);
        QCOMPARE(m_calls.last(), QStringLiteral("update check ") + state->settings().updateCheckURL);
        QVERIFY(!launched.isFinished());
        m_updatePromise->finish();
        QTRY_VERIFY(launched.isFinished());

        // A second call does nothing at all, now or later.
        QVERIFY(state->onLaunch(recordingDuties()).isFinished());
        QCoreApplication::sendPostedEvents();
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(m_calls.size(), 3);
        QCOMPARE(m_f->usage->events.size(), 2);
        QCOMPARE(m_f->errors->configureCount(), 1);
        QCOMPARE(m_server->count(QStringLiteral("/api/brisko/ads.json")), qsizetype(1));
    }

    void missingLaunchCollaboratorsAreSkipped()
    {
        const auto state = launchState();
        const QFuture<void> launched = state->onLaunch(LaunchDuties{});
        QTRY_VERIFY(launched.isFinished());
        // Without a banner service there is no banner to report.
        QCOMPARE(m_f->usage->names(), QStringList{QStringLiteral("app_launch")});
        QTRY_COMPARE(m_f->errors->configureCount(), 1);
    }

    void acceptingTheAgreementAndFinishingTheIntroductionAreStored()
    {
        const auto state = makeState();
        const QDateTime now(QDate(2026, 2, 3), QTime(10, 20, 30), Qt::UTC);
        m_f->clock->setNow(now);
        QSignalSpy settingsChanged(state.get(), &AppState::settingsChanged);
        state->acceptLicenceAgreement();
        QCOMPARE(settingsChanged.size(), 1);
        QVERIFY(state->settings().eulaAccepted && !state->settings().onboardingCompleted);
        QCOMPARE(ReferenceDate::toDateTime(state->settings().eulaAcceptedAt.value_or(0)), now);
        state->completeOnboarding();
        QCOMPARE(settingsChanged.size(), 2);
        QVERIFY(state->settings().onboardingCompleted);
        // A later launch reads both from the store.
        QCOMPARE(AppState(m_f->environment()).settings(), state->settings());
    }

private:
    std::unique_ptr<TestableAppState> makeState() { return std::make_unique<TestableAppState>(m_f->environment()); }
    static void finish(const QFuture<void>& done) { QTRY_VERIFY_WITH_TIMEOUT(done.isFinished(), 20000); }
    std::unique_ptr<TestableAppState> scanned(ScanCategory category)
    {
        auto state = makeState();
        finish(state->runScan({category}));
        return state;
    }
    static QString status(const AppState& state) { return state.statusMessage().value_or(QString()); }

    // The launch duties against recording sinks, a banner service on a real
    // loopback server, and flush and update stand-ins whose futures the test
    // finishes by hand.
    std::unique_ptr<AppState> launchState()
    {
        m_server = std::make_unique<LoopbackMakerServer>();
        [&] { QVERIFY(m_server->listen()); }();
        m_ads = std::make_unique<AdService>(&m_transport, m_f->store, m_pictures.path());
        auto state = std::make_unique<AppState>(m_f->environment());
        AppSettings settings = state->settings();
        settings.adsConfigURL = m_server->endpoint(QStringLiteral("ads.json"));
        settings.analyticsEndpoint = m_server->endpoint(QStringLiteral("events.php"));
        settings.updateCheckURL = m_server->endpoint(QStringLiteral("version.json"));
        settings.analyticsEnabled = false;
        state->setSettings(settings);
        m_calls.clear();
        m_flushPromise = std::make_shared<QPromise<void>>();
        m_updatePromise = std::make_shared<QPromise<void>>();
        return state;
    }
    LaunchDuties recordingDuties()
    {
        LaunchDuties duties;
        duties.installCrashHandler = [this] { m_calls.append(QStringLiteral("crash handler")); };
        duties.ads = m_ads.get();
        duties.flushAnalytics = [this](const QString& endpoint, bool enabled) {
            m_calls.append(QStringLiteral("flush %1 %2").arg(endpoint, enabled ? QStringLiteral("true") : QStringLiteral("false")));
            m_flushPromise->start();
            return m_flushPromise->future();
        };
        duties.checkForUpdates = [this](const QString& url) {
            m_calls.append(QStringLiteral("update check ") + url);
            m_updatePromise->start();
            return m_updatePromise->future();
        };
        return duties;
    }

    std::unique_ptr<AppFixture> m_f;
    std::unique_ptr<LoopbackMakerServer> m_server;
    HttpTransport m_transport;
    std::unique_ptr<AdService> m_ads;
    QTemporaryDir m_pictures;
    QStringList m_calls;
    std::shared_ptr<QPromise<void>> m_flushPromise;
    std::shared_ptr<QPromise<void>> m_updatePromise;
};

BRISKO_TEST(TestAppState)
#include "tst_AppState.moc"
