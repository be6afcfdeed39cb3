#include "BriskoTest.h"
#include "LoopbackMakerServer.h"

#include "app/AppState.h"
#include "app/DiscardingSinks.h"
#include "platform/PlatformDefaultsStore.h"
#include "server/AnalyticsService.h"
#include "server/ErrorReporter.h"

#include <QTemporaryDir>
#include <QtTest>

// The program's own environment: usage events and error reports of the
// application state reach the server services, and BRISKO_OFFLINE keeps
// them off the network.
class tst_ServerWiring : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void programUsesOneSetOfServerServices();
    void trackedEventsReachTheServer();
    void savedSettingsConfigureTheReporter();
    void reporterStartsFromTheStoredSettings();
    void offlineRecordsAndSendsNothing();

private:
    void storeSettings(const AppSettings& settings);
    AppSettings localSettings() const;

    QTemporaryDir m_dir;
    std::unique_ptr<LoopbackMakerServer> m_server;
    ProcessServices m_process;
};

void tst_ServerWiring::initTestCase()
{
    // The program's transport reads the switch once, when it is made.
    qunsetenv("BRISKO_OFFLINE");
    QVERIFY(m_dir.isValid());
    m_process = ProcessServices::forApplication(*QCoreApplication::instance());
}

void tst_ServerWiring::init()
{
    m_server = std::make_unique<LoopbackMakerServer>();
    QVERIFY(m_server->listen());
    const QString store = m_dir.filePath(QStringLiteral("%1.ini").arg(QLatin1String(QTest::currentTestFunction())));
    qputenv("BRISKO_DEFAULTS", QFile::encodeName(store));
    qunsetenv("BRISKO_OFFLINE");
}

void tst_ServerWiring::cleanup()
{
    m_server.reset();
}

AppSettings tst_ServerWiring::localSettings() const
{
    AppSettings settings = AppSettings::defaults(m_dir.path());
    settings.analyticsEndpoint = m_server->endpoint(QStringLiteral("events.php"));
    settings.errorsEndpoint = m_server->endpoint(QStringLiteral("errors.php"));
    return settings;
}

void tst_ServerWiring::storeSettings(const AppSettings& settings)
{
    QVERIFY(PlatformDefaultsStore::open()->setData(AppState::settingsKey, settings.toJson().value()));
}

void tst_ServerWiring::programUsesOneSetOfServerServices()
{
    storeSettings(localSettings());
    const AppEnvironment first = AppEnvironment::platform(m_process);
    const AppEnvironment second = AppEnvironment::platform(m_process);
    QVERIFY(std::dynamic_pointer_cast<AnalyticsService>(first.usage));
    QVERIFY(std::dynamic_pointer_cast<ErrorReporter>(first.errors));
    QCOMPARE(first.usage, second.usage);
    QCOMPARE(first.errors, second.errors);
    QCOMPARE(first.usage->anonymousId().size(), 36);
    QCOMPARE(PlatformDefaultsStore::open()->data(AnalyticsService::anonymousIdKey), first.usage->anonymousId().toUtf8());
}

void tst_ServerWiring::trackedEventsReachTheServer()
{
    storeSettings(localSettings());
    AppState state(AppEnvironment::platform(m_process));
    state.track(QStringLiteral("app_launch"));
    QTRY_COMPARE(m_server->count(QStringLiteral("/api/brisko/events.php")), 1);
    const QJsonObject event = m_server->requests().first().json();
    QCOMPARE(event.value(QLatin1String("event")).toString(), QStringLiteral("app_launch"));
    QCOMPARE(event.value(QLatin1String("anonymous_id")).toString(),
             QString::fromUtf8(PlatformDefaultsStore::open()->data(AnalyticsService::anonymousIdKey).value()));

    AppSettings off = localSettings();
    off.analyticsEnabled = false;
    state.setSettings(off);
    state.track(QStringLiteral("scan_started"), {{QStringLiteral("categories"), QStringLiteral("appCaches")}});
    QTest::qWait(100);
    QCOMPARE(m_server->requests().size(), 1);
    QVERIFY(PlatformDefaultsStore::open()->data(AnalyticsService::queueKey).value_or("[]") == "[]");
}

void tst_ServerWiring::savedSettingsConfigureTheReporter()
{
    AppSettings off = localSettings();
    off.errorReportingEnabled = false;
    storeSettings(off);
    const AppEnvironment environment = AppEnvironment::platform(m_process);
    AppState state(environment);
    state.setSettings(localSettings());
    QVERIFY(state.saveSettings());
    // The reporter is configured in the background; until then reports are dropped.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            environment.errors->report(AppFeature::scan, QStringLiteral("Папка недоступна"), {});
            return m_server->count(QStringLiteral("/api/brisko/errors.php")) > 0;
        }(),
        10000);
    const QJsonObject report = m_server->requests(QStringLiteral("/api/brisko/errors.php")).first().json();
    QCOMPARE(report.value(QLatin1String("feature")).toString(), QStringLiteral("scan"));
    QCOMPARE(report.value(QLatin1String("anonymous_id")).toString(), environment.usage->anonymousId());
}

void tst_ServerWiring::reporterStartsFromTheStoredSettings()
{
    storeSettings(localSettings());
    // What the crash handler of an earlier run left beside the store.
    QFile crash(ErrorReporter::defaultCrashFilePath());
    QVERIFY(crash.open(QIODevice::WriteOnly));
    crash.write("brisko-crash\nexception: SIGSEGV\nmessage: Fatal signal SIGSEGV (invalid memory access)\nstack:\n"
                "brisko(+0x4557) [0x55e1ed0fd557]\n");
    crash.close();

    const AppEnvironment environment = AppEnvironment::platform(m_process);
    QTRY_COMPARE(m_server->count(QStringLiteral("/api/brisko/errors.php")), 1);
    QCOMPARE(m_server->requests().first().json().value(QLatin1String("feature")).toString(), QStringLiteral("crash"));
    QVERIFY(!QFile::exists(crash.fileName()));
    environment.errors->report(AppFeature::update, QStringLiteral("Образ не смонтирован"), {});
    QTRY_COMPARE(m_server->count(QStringLiteral("/api/brisko/errors.php")), 2);
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
    QTest::qWait(100);
    QVERIFY(m_server->requests().isEmpty());
    QVERIFY(!PlatformDefaultsStore::open()->data(AnalyticsService::queueKey));
}

BRISKO_TEST(tst_ServerWiring)
#include "tst_ServerWiring.moc"
