#include "BriskoTest.h"
#include "FakeClock.h"
#include "TestValues.h"
#include "ServerTestCase.h"

#include "app/AppState.h"
#include "app/DiscardingSinks.h"
#include "app/ProcessServices.h"
#include "platform/PlatformDefaultsStore.h"
#include "platform/SettingsDefaultsStore.h"
#include "server/AnalyticsService.h"
#include "server/ErrorReporter.h"
#include "server/ServerServices.h"

#include <QSemaphore>
#include <QtTest>

#include <thread>

namespace {
// Holds the usage queue's writes until the test lets them through.
class GatedStore : public SettingsDefaultsStore
{
public:
    using SettingsDefaultsStore::SettingsDefaultsStore;
    bool setData(const QString& key, const QByteArray& value) override
    {
        if (key == AnalyticsService::queueKey)
            gate.acquire();
        return SettingsDefaultsStore::setData(key, value);
    }
    QSemaphore gate;
};
} // namespace

// The program's own environment: usage events and error reports of the
// application state reach the server services, and BRISKO_OFFLINE keeps
// them off the network.
class tst_ServerWiring : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    // The program's transport reads the switch once, when it is made.
    void initTestCase()
    {
        qunsetenv("BRISKO_OFFLINE");
        m_process = ProcessServices::forApplication(*QCoreApplication::instance());
    }
    void trackedEventsReachOneSetOfServerServices();
    void reporterStartsFromTheStoredSettings();
    void offlineRecordsAndSendsNothing();
    void anEndingProcessStoresItsQueueFirst();
    void aQueueLeftInTheSettingsFileMovesOutOfIt();

private:
    void prepare() override;
    AppSettings localSettings(bool errorReporting = true) const
    {
        AppSettings settings = AppSettings::defaults(m_bed->dir.path());
        settings.analyticsEndpoint = m_bed->endpoint(QStringLiteral("events.php"));
        settings.errorsEndpoint = m_bed->endpoint(QStringLiteral("errors.php"));
        settings.errorReportingEnabled = errorReporting;
        return settings;
    }
    void storeSettings(const AppSettings& settings)
    {
        QVERIFY(PlatformDefaultsStore::open()->setData(AppState::settingsKey, settings.toJson().value()));
    }

    ProcessServices m_process;
};

void tst_ServerWiring::prepare()
{
    // A store of its own for each test, as the program's services are made once per store.
    const QString store = m_bed->path(QStringLiteral("%1.ini").arg(QLatin1String(QTest::currentTestFunction())));
    qputenv("BRISKO_DEFAULTS", QFile::encodeName(store));
    qunsetenv("BRISKO_OFFLINE");
}

void tst_ServerWiring::trackedEventsReachOneSetOfServerServices()
{
    storeSettings(localSettings());
    const AppEnvironment first = AppEnvironment::platform(m_process);
    const AppEnvironment second = AppEnvironment::platform(m_process);
    QVERIFY(std::dynamic_pointer_cast<AnalyticsService>(first.usage));
    QVERIFY(std::dynamic_pointer_cast<ErrorReporter>(first.errors));
    QCOMPARE(first.usage, second.usage);
    QCOMPARE(first.errors, second.errors);
    QCOMPARE(PlatformDefaultsStore::open()->data(AnalyticsService::anonymousIdKey), first.usage->anonymousId().toUtf8());

    AppState state(first);
    state.track(QStringLiteral("app_launch"));
    QTRY_COMPARE(m_bed->received(QStringLiteral("events.php")).size(), 1);
    QCOMPARE(m_bed->sent(QStringLiteral("events.php"), QStringLiteral("event")), QStringList({QStringLiteral("app_launch")}));
    QCOMPARE(m_bed->sent(QStringLiteral("events.php"), QStringLiteral("anonymous_id")),
             QStringList({first.usage->anonymousId()}));

    // Switched off, an event is not even queued.
    AppSettings off = localSettings();
    off.analyticsEnabled = false;
    state.setSettings(off);
    state.track(QStringLiteral("scan_started"), {{QStringLiteral("categories"), QStringLiteral("appCaches")}});
    std::static_pointer_cast<AnalyticsService>(first.usage)->waitForQueueWrites();
    QCOMPARE(PlatformDefaultsStore::openQueues()->data(AnalyticsService::queueKey).value_or("[]"), QByteArray("[]"));
}

void tst_ServerWiring::reporterStartsFromTheStoredSettings()
{
    storeSettings(localSettings());
    // What the crash handler of an earlier run left beside the store.
    const QString crash = ErrorReporter::defaultCrashFilePath();
    QVERIFY(writeAll(crash, "brisko-crash\nexception: SIGSEGV\nmessage: Fatal signal SIGSEGV (invalid memory access)\n"
                            "stack:\nbrisko(+0x4557) [0x55e1ed0fd557]\n"));

    const AppEnvironment environment = AppEnvironment::platform(m_process);
    QTRY_COMPARE(m_bed->received(QStringLiteral("errors.php")).size(), 1);
    QCOMPARE(m_bed->sent(QStringLiteral("errors.php"), QStringLiteral("feature")), QStringList({QStringLiteral("crash")}));
    QVERIFY(!QFile::exists(crash));
    environment.errors->report(AppFeature::update, QStringLiteral("Образ не смонтирован"), {});
    QTRY_COMPARE(m_bed->received(QStringLiteral("errors.php")).size(), 2);
}

void tst_ServerWiring::offlineRecordsAndSendsNothing()
{
    qputenv("BRISKO_OFFLINE", "1");
    storeSettings(localSettings());
    const AppEnvironment environment = AppEnvironment::platform(m_process);
    QVERIFY(std::dynamic_pointer_cast<DiscardingUsageSink>(environment.usage));
    QVERIFY(std::dynamic_pointer_cast<DiscardingErrorSink>(environment.errors));
    AppState state(environment);
    state.track(QStringLiteral("app_launch"));
    QVERIFY(state.saveSettings());
    environment.errors->report(AppFeature::general, QStringLiteral("offline"), {});
    QVERIFY(!PlatformDefaultsStore::openQueues()->data(AnalyticsService::queueKey));
    QVERIFY(m_bed->server.requests().isEmpty());
}

void tst_ServerWiring::anEndingProcessStoresItsQueueFirst()
{
    // The queue is written behind the events; a process that ends right
    // after its last event (a command whose host is backing off) must not
    // end before that write.
    const QString file = m_bed->path(QStringLiteral("gated.ini"));
    auto store = std::make_shared<GatedStore>(file, QSettings::IniFormat);
    const std::shared_ptr<AnalyticsService> service =
        ServerServices::analytics(store, store, std::make_shared<FakeClock>(), m_process.transport.data(), m_process.gate);
    m_bed->server.setStanding(ServerTestBed::apiPath(QStringLiteral("events.php")), ScriptedResponse::closed());
    service->track(QStringLiteral("scan_completed"), {}, true, m_bed->endpoint(QStringLiteral("events.php")));
    std::thread opener([&store] {
        QThread::msleep(100);
        store->gate.release();
    });
    ServerServices::finishSends(*m_process.gate, std::chrono::milliseconds(0));
    const QByteArray stored =
        SettingsDefaultsStore(file, QSettings::IniFormat).data(AnalyticsService::queueKey).value_or("[]");
    opener.join();
    QCOMPARE(QJsonDocument::fromJson(stored).array().size(), 1);
    QTRY_VERIFY(!service->isFlushing());
}

BRISKO_TEST(tst_ServerWiring)
#include "tst_ServerWiring.moc"

void tst_ServerWiring::aQueueLeftInTheSettingsFileMovesOutOfIt()
{
    const auto event = [](const char* name) {
        AnalyticsEvent record;
        record.anonymousId = QStringLiteral("5b0c1b5e-8a47-4a52-9a3c-1f4c1d1e2f30");
        record.event = QString::fromLatin1(name);
        record.timestamp = QStringLiteral("2026-12-01T10:00:00Z");
        return record;
    };
    storeSettings(localSettings());
    const DefaultsStorePtr settingsFile = PlatformDefaultsStore::open();
    const DefaultsStorePtr queues = PlatformDefaultsStore::openQueues();
    // An earlier version queued two events in the settings file; a run that
    // ended between moving them and clearing the old place left one moved.
    QVERIFY(StoredQueue<AnalyticsEvent>(settingsFile, AnalyticsService::queueKey, 10)
                .save({event("app_launch"), event("scan_started")}));
    QVERIFY(StoredQueue<AnalyticsEvent>(queues, AnalyticsService::queueKey, 10)
                .save({event("app_launch"), event("scan_completed")}));

    const AppEnvironment environment = AppEnvironment::platform(m_process);
    QVERIFY(!settingsFile->data(AnalyticsService::queueKey));
    AnalyticsEventList moved = std::static_pointer_cast<AnalyticsService>(environment.usage)->loadQueue();
    QCOMPARE(moved, AnalyticsEventList({event("app_launch"), event("scan_started"), event("scan_completed")}));
    QVERIFY(QFile::exists(PlatformDefaultsStore::queuesLocation() + QStringLiteral("/BriskoAnalyticsQueue.json")));
}
