#include "BriskoTest.h"
#include "ServerTestCase.h"

#include "model/AppSettings.h"
#include "platform/FolderDefaultsStore.h"
#include "platform/SettingsDefaultsStore.h"

#include <QJsonArray>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

namespace {

struct Run
{
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    QByteArray describe() const { return "exit " + QByteArray::number(exitCode) + "\nout: " + out + "\nerr: " + err; }
};

} // namespace

// brisko region, brisko feedback and the usage events of a scan run as users
// run them: a separate process with its own home and the bed's defaults
// store, talking to the bed's loopback server while this test waits.
class tst_CliServerCommands : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void regionVerdicts_data();
    void regionVerdicts();
    void regionOffline_data();
    void regionOffline();
    void feedbackIsSent();
    void feedbackFailures_data();
    void feedbackFailures();
    void unansweredSendsDoNotHoldTheCommand();
    void aCommandSendsWhileItWorksAndLeavesItsLastEventQueued();

private:
    void prepare() override;
    // The names of the usage events the program left queued.
    QStringList queued() const
    {
        QStringList names;
        const QByteArray stored = FolderDefaultsStore(m_bed->path(QStringLiteral("defaults.queues")),
                                                      FolderDefaultsStore::Sync::none)
                                      .data(QStringLiteral("BriskoAnalyticsQueue"))
                                      .value_or("[]");
        for (const QJsonValue& event : QJsonDocument::fromJson(stored).array()) {
            names.append(event.toObject().value(QLatin1String("event")).toString());
        }
        return names;
    }
    Run run(const QStringList& arguments, const QString& offline = QString());
};

void tst_CliServerCommands::prepare()
{
    QVERIFY(QDir().mkpath(m_bed->path(QStringLiteral("home"))));
    AppSettings settings = AppSettings::defaults(m_bed->path(QStringLiteral("home")));
    settings.regionCheckURL = m_bed->endpoint(QStringLiteral("region.php"));
    settings.feedbackEndpoint = m_bed->endpoint(QStringLiteral("feedback.php"));
    settings.analyticsEndpoint = m_bed->endpoint(QStringLiteral("events.php"));
    settings.errorsEndpoint = m_bed->endpoint(QStringLiteral("errors.php"));
    QVERIFY(m_bed->store->setData(QStringLiteral("BriskoSettings"), settings.toJson().value()));
}

Run tst_CliServerCommands::run(const QStringList& arguments, const QString& offline)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_bed->path(QStringLiteral("home")));
    environment.insert(QStringLiteral("BRISKO_DEFAULTS"), m_bed->path(QStringLiteral("defaults.ini")));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
    environment.remove(QStringLiteral("BRISKO_OFFLINE"));
    if (!offline.isEmpty()) {
        environment.insert(QStringLiteral("BRISKO_OFFLINE"), offline);
    }
    QProcess process;
    process.setProcessEnvironment(environment);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QStringLiteral(BRISKO_BIN), arguments);
    process.closeWriteChannel();
    Run result;
    // The event loop runs while waiting, so the server answers the program.
    result.finished = finished.wait(60000) && process.exitStatus() == QProcess::NormalExit;
    if (!result.finished) {
        process.kill();
        process.waitForFinished();
    }
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

void tst_CliServerCommands::regionVerdicts_data()
{
    QTest::addColumn<QString>("country");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("verdict");
    QTest::newRow("allowed") << "RU" << 0 << "allowed";
    QTest::newRow("blocked") << "UA" << 1 << "blocked";
}

void tst_CliServerCommands::regionVerdicts()
{
    QFETCH(QString, country);
    QFETCH(int, exitCode);
    QFETCH(QString, verdict);
    m_bed->server.setCountry(country);
    const Run text = run({QStringLiteral("region")});
    QVERIFY2(text.finished && text.exitCode == exitCode, text.describe());
    QCOMPARE(QString::fromUtf8(text.out), verdict + QStringLiteral("\nЛокаль: RU · IP: ") + country + QLatin1Char('\n'));
    QCOMPARE(m_bed->server.requests().first().header("X-Client-Region"), QByteArray("RU"));

    const Run json = run({QStringLiteral("region"), QStringLiteral("--json")});
    QVERIFY2(json.finished && json.exitCode == exitCode, json.describe());
    const QJsonObject object = QJsonDocument::fromJson(json.out).object();
    QCOMPARE(object.value(QLatin1String("status")).toString(), verdict);
    QCOMPARE(object.value(QLatin1String("lastCheckSummary")).toString(), QStringLiteral("Локаль: RU · IP: ") + country);
}

void tst_CliServerCommands::regionOffline_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("offlineVariable");
    QTest::newRow("switch") << QStringList{QStringLiteral("region"), QStringLiteral("--offline")} << QString();
    QTest::newRow("environment") << QStringList{QStringLiteral("region")} << "1";
}

void tst_CliServerCommands::regionOffline()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, offlineVariable);
    m_bed->server.setCountry(QStringLiteral("UA"));
    const Run result = run(arguments, offlineVariable);
    QVERIFY2(result.finished && result.exitCode == 0, result.describe());
    QCOMPARE(QString::fromUtf8(result.out), QStringLiteral("allowed\nОфлайн · локаль Mac: RU · доступ разрешён\n"));
    QVERIFY(m_bed->server.requests().isEmpty());
}

void tst_CliServerCommands::feedbackIsSent()
{
    const Run result = run({QStringLiteral("feedback"), QStringLiteral("Не"), QStringLiteral("видит внешний диск"),
                            QStringLiteral("--email"), QStringLiteral(" anna@example.ru "), QStringLiteral("--diagnostics")});
    QVERIFY2(result.finished && result.exitCode == 0, result.describe());
    QCOMPARE(QString::fromUtf8(result.out), QStringLiteral("Спасибо! Сообщение получено.\n"));
    const QList<RecordedRequest> received = m_bed->received(QStringLiteral("feedback.php"));
    QCOMPARE(received.size(), 1);
    const QJsonObject body = received.first().json();
    QCOMPARE(body.value(QLatin1String("message")).toString(), QStringLiteral("Не видит внешний диск"));
    QCOMPARE(body.value(QLatin1String("email")).toString(), QStringLiteral("anna@example.ru"));
    QCOMPARE(body.value(QLatin1String("anonymous_id")).toString().toUtf8(),
             m_bed->store->data(QStringLiteral("BriskoAnonymousId")).value_or(QByteArray()));
    const QJsonObject diagnostics = body.value(QLatin1String("diagnostics")).toObject();
    QCOMPARE(diagnostics.value(QLatin1String("locale")).toString(), QStringLiteral("ru_RU"));
    QVERIFY(diagnostics.contains(QLatin1String("free_disk")));
    QVERIFY(diagnostics.contains(QLatin1String("model")));
}

void tst_CliServerCommands::feedbackFailures_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("requests");
    QTest::newRow("server refuses") << QStringList{QStringLiteral("feedback"), QStringLiteral("Сервер откажет")}
                                    << "brisko: База недоступна\n" << 1;
    QTest::newRow("offline") << QStringList{QStringLiteral("feedback"), QStringLiteral("Без сети"), QStringLiteral("--offline")}
                             << "brisko: Ошибка сети: включён режим без сети\n" << 0;
}

void tst_CliServerCommands::feedbackFailures()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QFETCH(int, requests);
    m_bed->server.setStanding(ServerTestBed::apiPath(QStringLiteral("feedback.php")),
                              ScriptedResponse::json(500, R"({"ok":false,"error":"База недоступна"})"));
    const Run result = run(arguments);
    QVERIFY2(result.finished && result.exitCode == 1, result.describe());
    QCOMPARE(QString::fromUtf8(result.err), error);
    QVERIFY(result.out.isEmpty());
    QCOMPARE(m_bed->received(QStringLiteral("feedback.php")).size(), requests);
}

void tst_CliServerCommands::unansweredSendsDoNotHoldTheCommand()
{
    const QString events = ServerTestBed::apiPath(QStringLiteral("events.php"));
    m_bed->server.setStanding(events, ScriptedResponse::silent());
    const QStringList scan{QStringLiteral("scan"), QStringLiteral("downloadsInbox"), QStringLiteral("--json")};
    const Run first = run(scan);
    QVERIFY2(first.finished && first.exitCode == 0, first.describe());
    QVERIFY(QJsonDocument::fromJson(first.out).isObject());
    // One attempt, unanswered when the command was done: both events wait
    // for a later run, and so does the host.
    QCOMPARE(m_bed->server.requests().size(), 1);
    QCOMPARE(queued(), QStringList({QStringLiteral("scan_started"), QStringLiteral("scan_completed")}));
    const QJsonObject backoff =
        QJsonDocument::fromJson(m_bed->store->data(QStringLiteral("BriskoServerBackoff")).value_or("{}")).object();
    QCOMPARE(backoff.value(QLatin1String("127.0.0.1")).toObject().value(QLatin1String("failures")).toInt(), 1);

    m_bed->server.clearStanding(events);
    const Run second = run(scan);
    QVERIFY2(second.finished && second.exitCode == 0, second.describe());
    QCOMPARE(m_bed->server.requests().size(), 1);
    QCOMPARE(queued().size(), 4);
}

void tst_CliServerCommands::aCommandSendsWhileItWorksAndLeavesItsLastEventQueued()
{
    // The server takes every event: the first event of a run sends what the
    // queue holds; the run's last one waits for the next run, as a send
    // started at the end would hold the exit.
    const QStringList scan{QStringLiteral("scan"), QStringLiteral("downloadsInbox")};
    for (int round = 1; round <= 2; ++round) {
        const Run result = run(scan);
        QVERIFY2(result.finished && result.exitCode == 0, result.describe());
        QCOMPARE(queued(), QStringList({QStringLiteral("scan_completed")}));
    }
    QCOMPARE(m_bed->sent(QStringLiteral("events.php"), QStringLiteral("event")),
             QStringList({QStringLiteral("scan_started"), QStringLiteral("scan_completed"),
                          QStringLiteral("scan_started")}));
}

BRISKO_TEST(tst_CliServerCommands)
#include "tst_CliServerCommands.moc"
