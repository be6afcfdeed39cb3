#include "BriskoTest.h"
#include "CliSandbox.h"
#include "ServerTestCase.h"

#include "model/AppSettings.h"
#include "platform/FolderDefaultsStore.h"
#include "update/UpdateError.h"

#include <QJsonArray>
#include <QtTest>

// brisko region, brisko feedback, brisko update and the usage events of a
// scan run as users run them: a separate process with its own home and the bed's defaults
// store, talking to the bed's loopback server while this test waits.
class tst_CliServerCommands : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void region_data();
    void region();
    void feedback_data();
    void feedback();
    void unansweredSendsDoNotHoldTheCommand();
    void aCommandSendsWhileItWorksAndLeavesItsLastEventQueued();
    void updateNeverAsksAPlainSource();

private:
    void prepare() override
    {
        AppSettings settings = AppSettings::defaults(m_sandbox.home().path());
        settings.regionCheckURL = m_bed->endpoint(QStringLiteral("region.php"));
        settings.feedbackEndpoint = m_bed->endpoint(QStringLiteral("feedback.php"));
        settings.analyticsEndpoint = m_bed->endpoint(QStringLiteral("events.php"));
        settings.errorsEndpoint = m_bed->endpoint(QStringLiteral("errors.php"));
        settings.updateCheckURL = m_bed->endpoint(QStringLiteral("version.json"));
        QVERIFY(m_bed->store->setData(QStringLiteral("BriskoSettings"), settings.toJson().value()));
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
        QStringList names;
        const QByteArray stored =
            FolderDefaultsStore(m_bed->path(QStringLiteral("defaults.queues")), FolderDefaultsStore::Sync::none)
                .data(QStringLiteral("BriskoAnalyticsQueue"))
                .value_or("[]");
        for (const QJsonValue& event : QJsonDocument::fromJson(stored).array()) {
            names.append(event.toObject().value(QLatin1String("event")).toString());
        }
        return names;
    }

    CliSandbox m_sandbox;
};

void tst_CliServerCommands::region_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("offline");
    QTest::addColumn<QString>("country");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    const QString offline = QStringLiteral("allowed\nОфлайн · локаль Mac: RU · доступ разрешён\n");
    QTest::newRow("allowed") << "region" << "" << "RU" << 0 << "allowed\nЛокаль: RU · IP: RU\n";
    QTest::newRow("blocked") << "region" << "" << "UA" << 1 << "blocked\nЛокаль: RU · IP: UA\n";
    QTest::newRow("blocked, json") << "region|--json" << "" << "UA" << 1 << "blocked|Локаль: RU · IP: UA";
    QTest::newRow("offline switch") << "region|--offline" << "" << "UA" << 0 << offline;
    QTest::newRow("offline environment") << "region" << "1" << "UA" << 0 << offline;
}

void tst_CliServerCommands::region()
{
    QFETCH(QString, words);
    QFETCH(QString, offline);
    QFETCH(QString, country);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    m_bed->server.setCountry(country);
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
    QCOMPARE(m_bed->server.requests().size(), output.contains(QStringLiteral("Офлайн")) ? 0 : 1);
    if (!m_bed->server.requests().isEmpty()) {
        QCOMPARE(m_bed->server.requests().first().header("X-Client-Region"), QByteArray("RU"));
    }
}

void tst_CliServerCommands::feedback_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("error");
    QTest::newRow("sent") << "feedback|Не|видит внешний диск|--email| anna@example.ru |--diagnostics" << 200
                          << "Спасибо! Сообщение получено.\n" << "";
    QTest::newRow("server refuses") << "feedback|Сервер откажет" << 500 << "" << "brisko: База недоступна\n";
    QTest::newRow("offline") << "feedback|Без сети|--offline" << 500 << ""
                             << "brisko: Ошибка сети: включён режим без сети\n";
}

void tst_CliServerCommands::feedback()
{
    QFETCH(QString, words);
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(QString, error);
    const QString path = ServerTestBed::apiPath(QStringLiteral("feedback.php"));
    if (status != 200) {
        m_bed->server.setStanding(path, ScriptedResponse::json(status, R"({"ok":false,"error":"База недоступна"})"));
    }
    const CliRun result = run(words);
    QVERIFY2(result.finished && result.exitCode == (error.isEmpty() ? 0 : 1), result.describe());
    QCOMPARE(result.outText(), output);
    QCOMPARE(result.errText(), error);
    QCOMPARE(m_bed->server.count(path), words.contains(QLatin1String("--offline")) ? 0 : 1);
    if (!error.isEmpty()) {
        return;
    }
    const QJsonObject body = m_bed->received(QStringLiteral("feedback.php")).first().json();
    QCOMPARE(body.value(QLatin1String("message")).toString(), QStringLiteral("Не видит внешний диск"));
    QCOMPARE(body.value(QLatin1String("email")).toString(), QStringLiteral("anna@example.ru"));
    QCOMPARE(body.value(QLatin1String("anonymous_id")).toString().toUtf8(),
             m_bed->store->data(QStringLiteral("BriskoAnonymousId")).value_or(QByteArray()));
    const QJsonObject diagnostics = body.value(QLatin1String("diagnostics")).toObject();
    QCOMPARE(diagnostics.value(QLatin1String("locale")).toString(), QStringLiteral("ru_RU"));
    QVERIFY(diagnostics.contains(QLatin1String("free_disk")) && diagnostics.contains(QLatin1String("model")));
}

// The exit deadline: a host that never answers does not keep a command
// from ending, and what it did not take waits for a later run.
void tst_CliServerCommands::unansweredSendsDoNotHoldTheCommand()
{
    const QString events = ServerTestBed::apiPath(QStringLiteral("events.php"));
    m_bed->server.setStanding(events, ScriptedResponse::silent());
    const CliRun first = run(QStringLiteral("scan|downloadsInbox|--json"));
    QVERIFY2(first.finished && first.exitCode == 0 && first.json() && first.json()->isObject(), first.describe());
    // One attempt, unanswered when the command was done: both events wait
    // for a later run, and so does the host.
    QCOMPARE(m_bed->server.requests().size(), 1);
    QCOMPARE(queued(), QStringList({QStringLiteral("scan_started"), QStringLiteral("scan_completed")}));
    const QJsonObject backoff =
        QJsonDocument::fromJson(m_bed->store->data(QStringLiteral("BriskoServerBackoff")).value_or("{}")).object();
    QCOMPARE(backoff.value(QLatin1String("127.0.0.1")).toObject().value(QLatin1String("failures")).toInt(), 1);

    m_bed->server.clearStanding(events);
    const CliRun second = run(QStringLiteral("scan|downloadsInbox|--json"));
    QVERIFY2(second.finished && second.exitCode == 0, second.describe());
    QCOMPARE(m_bed->server.requests().size(), 1);
    QCOMPARE(queued().size(), 4);
}

void tst_CliServerCommands::aCommandSendsWhileItWorksAndLeavesItsLastEventQueued()
{
    // The server takes every event: the first event of a run sends what the
    // queue holds; the run's last one waits for the next run, as a send
    // started at the end would hold the exit.
    for (int round = 1; round <= 2; ++round) {
        const CliRun result = run(QStringLiteral("scan|downloadsInbox"));
        QVERIFY2(result.finished && result.exitCode == 0, result.describe());
        QCOMPARE(queued(), QStringList({QStringLiteral("scan_completed")}));
    }
    QCOMPARE(m_bed->sent(QStringLiteral("events.php"), QStringLiteral("event")),
             QStringList({QStringLiteral("scan_started"), QStringLiteral("scan_completed"), QStringLiteral("scan_started")}));
}

// A version file address that is not HTTPS on the maker's hosts is refused
// without a request, in text and in JSON; the road through a trusted server
// is tst_UpdateService's.
void tst_CliServerCommands::updateNeverAsksAPlainSource()
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

BRISKO_TEST(tst_CliServerCommands)
#include "tst_CliServerCommands.moc"
