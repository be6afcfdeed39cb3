#include "BriskoTest.h"
#include "CliSandbox.h"
#include "ServerTestCase.h"
#include "TestValues.h"

#include "app/AppState.h"
#include "app/DiscardingSinks.h"
#include "app/ProcessServices.h"
#include "platform/FolderDefaultsStore.h"
#include "platform/PlatformDefaultsStore.h"
#include "server/AnalyticsService.h"
#include "server/ErrorReporter.h"
#include "server/ServerServices.h"
#include "update/UpdateError.h"

#include <QJsonArray>
#include <QtTest>


// The program's own environment: usage events and error reports of the
// application state reach the server services, and BRISKO_OFFLINE keeps
// them off the network. Then brisko region, brisko feedback, brisko update
// and the usage events of a scan run as users run them: a separate process
// with its own home and the bed's defaults store, talking to the bed's
// loopback server while this test waits.
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
    void aQueueLeftInTheSettingsFileMovesOutOfIt();
    void commandsThatAskTheServer_data();
    void commandsThatAskTheServer();
    void unansweredSendsWaitForALaterRun();
    void oneCopySendsAtATime();
    void aServerThatAnswersTakesEveryEventOnce();
    void theSenderGoesByTheSettingsItFinds();
    void updateNeverAsksAPlainSource();

private:
    void prepare() override;
    AppSettings localSettings() const
    {
        AppSettings settings = AppSettings::defaults(m_bed->dir.path());
        settings.regionCheckURL = m_bed->endpoint(QStringLiteral("region.php"));
        settings.feedbackEndpoint = m_bed->endpoint(QStringLiteral("feedback.php"));
        settings.analyticsEndpoint = m_bed->endpoint(QStringLiteral("events.php"));
        settings.errorsEndpoint = m_bed->endpoint(QStringLiteral("errors.php"));
        settings.updateCheckURL = m_bed->endpoint(QStringLiteral("version.json"));
        return settings;
    }
    void storeSettings(const AppSettings& settings)
    {
        QVERIFY(PlatformDefaultsStore::open()->setData(AppState::settingsKey, settings.toJson().value()));
    }

    CliRun run(const QString& words, const QString& offline = QString()) const
    {
        QProcessEnvironment environment = m_sandbox.environment();
        environment.insert(QStringLiteral("BRISKO_DEFAULTS"), m_bed->path(QStringLiteral("defaults.ini")));
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
        environment.insert(QStringLiteral("BRISKO_OFFLINE"), offline);
        return m_sandbox.run(words.split(QLatin1Char('|')), environment);
    }
    // The names of the usage events the program left queued.
    QStringList queued() const
    {
        const auto queues = std::make_shared<FolderDefaultsStore>(m_bed->path(QStringLiteral("defaults.queues")),
                                                                  FolderDefaultsStore::Sync::none);
        QStringList names;
        for (const AnalyticsEvent& event :
             StoredQueue<AnalyticsEvent>(queues, AnalyticsService::queueKey, AnalyticsService::maxQueue).load()) {
            names.append(event.event);
        }
        return names;
    }

    ProcessServices m_process;
    CliSandbox m_sandbox;
};

void tst_ServerWiring::prepare()
{
    // A store of its own for each test, as the program's services are made once per store.
    const QString store = m_bed->path(QStringLiteral("%1.ini").arg(QLatin1String(QTest::currentTestFunction())));
    qputenv("BRISKO_DEFAULTS", QFile::encodeName(store));
    qunsetenv("BRISKO_OFFLINE");
    // The commands run on the bed's store.
    QVERIFY(m_bed->store->setData(QStringLiteral("BriskoSettings"), localSettings().toJson().value()));
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
    // The delivered event leaves the queue once its answer is in.
    QTRY_VERIFY(!std::static_pointer_cast<AnalyticsService>(first.usage)->isFlushing());

    // Switched off, an event is not even queued.
    AppSettings off = localSettings();
    off.analyticsEnabled = false;
    state.setSettings(off);
    state.track(QStringLiteral("scan_started"), {{QStringLiteral("categories"), QStringLiteral("appCaches")}});
    QVERIFY(std::static_pointer_cast<AnalyticsService>(first.usage)->loadQueue().isEmpty());
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

// What the commands that ask the server print and return; what each answer
// means is tst_ServerServices'.
void tst_ServerWiring::commandsThatAskTheServer_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("offline");
    QTest::addColumn<QString>("country");
    QTest::addColumn<int>("feedbackStatus");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // with --json: status|lastCheckSummary
    QTest::addColumn<QString>("error");
    const QString offline = QStringLiteral("allowed\nОфлайн · локаль Mac: RU · доступ разрешён\n");
    const auto row = [](const char* name, const char* words, const char* offline, const char* country, int status, int exitCode,
                        const QString& output, const QString& error) {
        QTest::newRow(name) << QString::fromUtf8(words) << QString::fromLatin1(offline) << QString::fromLatin1(country) << status
                            << exitCode << output << error;
    };
    row("region allowed", "region", "", "RU", 200, 0, QStringLiteral("allowed\nЛокаль: RU · IP: RU\n"), QString());
    row("region blocked", "region", "", "UA", 200, 1, QStringLiteral("blocked\nЛокаль: RU · IP: UA\n"), QString());
    row("region blocked, json", "region|--json", "", "UA", 200, 1, QStringLiteral("blocked|Локаль: RU · IP: UA"), QString());
    row("region, offline switch", "region|--offline", "", "UA", 200, 0, offline, QString());
    row("region, offline environment", "region", "1", "UA", 200, 0, offline, QString());
    row("feedback sent", "feedback|Не|видит внешний диск|--email| anna@example.ru |--diagnostics", "", "RU", 200, 0,
        QStringLiteral("Спасибо! Сообщение получено.\n"), QString());
    row("feedback refused", "feedback|Сервер откажет", "", "RU", 500, 1, QString(), QStringLiteral("brisko: База недоступна\n"));
    row("feedback offline", "feedback|Без сети|--offline", "", "RU", 500, 1, QString(),
        QStringLiteral("brisko: Ошибка сети: включён режим без сети\n"));
}

void tst_ServerWiring::commandsThatAskTheServer()
{
    QFETCH(QString, words);
    QFETCH(QString, offline);
    QFETCH(QString, country);
    QFETCH(int, feedbackStatus);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, error);
    m_bed->server.setCountry(country);
    if (feedbackStatus != 200) {
        m_bed->server.setStanding(ServerTestBed::apiPath(QStringLiteral("feedback.php")),
                                  ScriptedResponse::json(feedbackStatus, R"({"ok":false,"error":"База недоступна"})"));
    }
    const CliRun result = run(words, offline);
    QVERIFY2(result.finished && result.exitCode == exitCode, result.describe());
    if (words.endsWith(QLatin1String("--json"))) {
        const QJsonObject object = result.json().value_or(QJsonDocument()).object();
        QCOMPARE(object.value(QLatin1String("status")).toString() + QLatin1Char('|')
                     + object.value(QLatin1String("lastCheckSummary")).toString(),
                 output);
    } else {
        QCOMPARE(result.outText(), output);
    }
    QCOMPARE(result.errText(), error);
    const bool asked = !words.contains(QLatin1String("--offline")) && offline.isEmpty();
    const QString endpoint = words.startsWith(QLatin1String("region")) ? QStringLiteral("region.php") : QStringLiteral("feedback.php");
    QCOMPARE(m_bed->received(endpoint).size(), asked ? 1 : 0);
    if (asked && endpoint == QLatin1String("feedback.php") && exitCode == 0) {
        // The words make one message.
        const QJsonObject body = m_bed->received(QStringLiteral("feedback.php")).first().json();
        QCOMPARE(body.value(QLatin1String("message")).toString(), QStringLiteral("Не видит внешний диск"));
        QCOMPARE(body.value(QLatin1String("email")).toString(), QStringLiteral("anna@example.ru"));
        QVERIFY(body.value(QLatin1String("diagnostics")).toObject().contains(QLatin1String("model")));
    }
}

// A command's events go out after its output, from the copy of the process
// that outlives it: a host that never answers gets one attempt, and what it
// did not take waits, with the host, for a later run.
void tst_ServerWiring::unansweredSendsWaitForALaterRun()
{
    const QString events = ServerTestBed::apiPath(QStringLiteral("events.php"));
    m_bed->server.setStanding(events, ScriptedResponse::silent());
    const CliRun first = run(QStringLiteral("scan|downloadsInbox|--json"));
    QVERIFY2(first.finished && first.exitCode == 0 && first.json() && first.json()->isObject(), first.describe());
    // The copy gives up on the host once its grace is over.
    QTRY_VERIFY(m_bed->store->data(RateLimitGate::backoffKey));
    QCOMPARE(m_bed->server.requests().size(), 1);
    QCOMPARE(queued(), QStringList({QStringLiteral("scan_started"), QStringLiteral("scan_completed")}));

    m_bed->server.clearStanding(events);
    const CliRun second = run(QStringLiteral("scan|downloadsInbox|--json"));
    QVERIFY2(second.finished && second.exitCode == 0, second.describe());
    QCOMPARE(queued().size(), 4);
    QCOMPARE(m_bed->server.requests().size(), 1);
}

// While one command's copy still sends the queue, the next command sends
// nothing: two copies would post the same events.
void tst_ServerWiring::oneCopySendsAtATime()
{
    m_bed->server.setStanding(ServerTestBed::apiPath(QStringLiteral("events.php")), ScriptedResponse::silent());
    for (int round = 1; round <= 2; ++round) {
        const CliRun result = run(QStringLiteral("scan|downloadsInbox"));
        QVERIFY2(result.finished && result.exitCode == 0, result.describe());
    }
    QTRY_VERIFY(m_bed->store->data(RateLimitGate::backoffKey));
    QCOMPARE(m_bed->server.requests().size(), 1);
    QCOMPARE(queued().size(), 4);
}

void tst_ServerWiring::aServerThatAnswersTakesEveryEventOnce()
{
    for (int round = 1; round <= 2; ++round) {
        const CliRun result = run(QStringLiteral("scan|downloadsInbox"));
        QVERIFY2(result.finished && result.exitCode == 0, result.describe());
        QTRY_COMPARE(m_bed->server.requests().size(), 2 * round);
        QTRY_COMPARE(queued(), QStringList());
    }
    QCOMPARE(m_bed->sent(QStringLiteral("events.php"), QStringLiteral("event")),
             QStringList({QStringLiteral("scan_started"), QStringLiteral("scan_completed"),
                          QStringLiteral("scan_started"), QStringLiteral("scan_completed")}));
}

// The sender a command leaves behind reads the settings when it runs: events
// queued while analytics was on are not sent once it is off.
void tst_ServerWiring::theSenderGoesByTheSettingsItFinds()
{
    const QString events = ServerTestBed::apiPath(QStringLiteral("events.php"));
    m_bed->server.setStanding(events, ScriptedResponse::silent());
    const CliRun command = run(QStringLiteral("scan|downloadsInbox"));
    QVERIFY2(command.finished && command.exitCode == 0, command.describe());
    QTRY_VERIFY(m_bed->store->data(RateLimitGate::backoffKey));
    m_bed->server.clearStanding(events);
    QVERIFY(m_bed->store->remove(RateLimitGate::backoffKey));

    AppSettings settings = localSettings();
    settings.analyticsEnabled = false;
    QVERIFY(m_bed->store->setData(AppState::settingsKey, settings.toJson().value()));
    const CliRun off = run(ServerServices::usageSenderArgument);
    QVERIFY2(off.finished && off.exitCode == 0 && off.out.isEmpty(), off.describe());
    QCOMPARE(m_bed->server.requests().size(), 1);
    QCOMPARE(queued().size(), 2);

    settings.analyticsEnabled = true;
    QVERIFY(m_bed->store->setData(AppState::settingsKey, settings.toJson().value()));
    const CliRun on = run(ServerServices::usageSenderArgument);
    QVERIFY2(on.finished && on.exitCode == 0 && on.out.isEmpty(), on.describe());
    QCOMPARE(m_bed->server.requests().size(), 3);
    QCOMPARE(queued(), QStringList());
}

// A version file address that is not HTTPS on the maker's hosts is refused
// without a request, in text and in JSON; the road through a trusted server
// is tst_UpdateService's.
void tst_ServerWiring::updateNeverAsksAPlainSource()
{
    CliRun result = run(QStringLiteral("update|check"));
    QVERIFY2(result.finished && result.exitCode == 1 && result.errText().contains(UpdateError::untrustedSource),
             result.describe());
    result = run(QStringLiteral("update|install|--json"));
    QVERIFY2(result.finished && result.exitCode == 1, result.describe());
    const QJsonObject json = result.json().value_or(QJsonDocument()).object();
    QCOMPARE(json.value(QLatin1String("lastCheckError")).toString(), UpdateError::untrustedSource);
    QVERIFY(json.value(QLatin1String("availableUpdate")).isNull());
    QCOMPARE(json.value(QLatin1String("phase")).toObject().value(QLatin1String("kind")), QJsonValue(QStringLiteral("idle")));
    // A build folder is no installation to replace.
    QCOMPARE(json.value(QLatin1String("canInstallInPlace")), QJsonValue(false));
    QCOMPARE(m_bed->received(QStringLiteral("version.json")).size(), 0);
    QVERIFY(!QFile::exists(m_sandbox.home().filePath(QStringLiteral(".local/share/brisko-vella/updates"))));
}

BRISKO_TEST(tst_ServerWiring)
#include "tst_ServerWiring.moc"
