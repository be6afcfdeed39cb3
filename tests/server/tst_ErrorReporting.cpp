#include "BriskoTest.h"
#include "ServerTestBed.h"

#include "model/AppSettings.h"
#include "server/ErrorReporter.h"

#include <QJsonArray>
#include <QThread>
#include <QtTest>

// Error reports from report to delivery: de-duplication, sanitising, the
// stored queue and its flushes against a real loopback server.
class tst_ErrorReporting : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void reportIsSentWithItsFields();
    void sameReportWithinTwoMinutesIsSentOnce();
    void blankMessagesAreIgnored();
    void nothingIsQueuedUnconfigured();
    void messageIsCut();
    void contextIsSanitised();
    void operationErrorsMakeOneReport();
    void queueKeepsTheNewest();
    void switchedOffKeepsTheQueue();
    void queueSurvivesARestart();
    void unreadableQueueIsReplaced();
    void overlappingFlushesLoseAndRepeatNothing();
    void reporterHandsOtherThreadsOver();
    void recentSummariesNewestFirst();

private:
    std::unique_ptr<ErrorReportingService> makeService();
    QString endpoint() const { return m_bed->server.endpoint(QStringLiteral("errors.php")); }
    QList<RecordedRequest> received() const { return m_bed->server.requests(QStringLiteral("/api/brisko/errors.php")); }
    void settle(ErrorReportingService& service);

    std::unique_ptr<ServerTestBed> m_bed;
};

void tst_ErrorReporting::init()
{
    m_bed = std::make_unique<ServerTestBed>();
    QVERIFY(m_bed->isValid());
}

void tst_ErrorReporting::cleanup()
{
    m_bed.reset();
}

std::unique_ptr<ErrorReportingService> tst_ErrorReporting::makeService()
{
    return std::make_unique<ErrorReportingService>(m_bed->store, m_bed->clock, m_bed->client(), ServerTestBed::info(),
                                                   m_bed->path(QStringLiteral("defaults.crash")));
}

// Lets every flush that was started end.
void tst_ErrorReporting::settle(ErrorReportingService& service)
{
    QVERIFY(ServerTestBed::await(service.flushQueue()));
    QVERIFY(!service.isFlushing());
}

void tst_ErrorReporting::reportIsSentWithItsFields()
{
    auto service = makeService();
    service->configure(endpoint(), true, QStringLiteral("3f2c1e9a-0000-4000-8000-000000000001"));
    service->report(AppFeature::archiveMove, QStringLiteral("  Не удалось перенести «Фото 2024»\n"),
                    {{QStringLiteral("path"), QStringLiteral("/Users/Анна/Movies")}});
    QTRY_COMPARE(received().size(), 1);
    const QJsonObject sent = received().first().json();
    QCOMPARE(sent.keys().size(), 8);
    QCOMPARE(sent.value(QLatin1String("anonymous_id")).toString(), QStringLiteral("3f2c1e9a-0000-4000-8000-000000000001"));
    QCOMPARE(sent.value(QLatin1String("feature")).toString(), QStringLiteral("archive_move"));
    QCOMPARE(sent.value(QLatin1String("message")).toString(), QStringLiteral("Не удалось перенести «Фото 2024»"));
    QCOMPARE(sent.value(QLatin1String("app_version")).toString(), QStringLiteral("1.4.2"));
    QCOMPARE(sent.value(QLatin1String("build")).toString(), QStringLiteral("42"));
    QCOMPARE(sent.value(QLatin1String("os_version")).toString(), ServerTestBed::info().osVersion);
    QCOMPARE(sent.value(QLatin1String("timestamp")).toString(), QStringLiteral("2026-03-14T06:30:15Z"));
    QCOMPARE(sent.value(QLatin1String("context")).toObject(),
             QJsonObject({{QStringLiteral("path"), QStringLiteral("/Users/Анна/Movies")}}));
    settle(*service);
    QVERIFY(service->loadQueue().isEmpty());
    QCOMPARE(service->loadRecent().size(), 1);
}

void tst_ErrorReporting::sameReportWithinTwoMinutesIsSentOnce()
{
    auto service = makeService();
    service->configure(endpoint(), true, QStringLiteral("id"));
    const QString message = QStringLiteral("Нет доступа к папке");
    service->report(AppFeature::scan, message, {});
    m_bed->clock->advance(119);
    service->report(AppFeature::scan, QStringLiteral("  ") + message, {});
    // Another feature is another fault.
    service->report(AppFeature::cleanArchive, message, {});
    settle(*service);
    QCOMPARE(received().size(), 2);

    m_bed->clock->advance(2);
    service->report(AppFeature::scan, message, {});
    settle(*service);
    QCOMPARE(received().size(), 3);
    QCOMPARE(received().last().json().value(QLatin1String("feature")).toString(), QStringLiteral("scan"));

    // The window is in memory only: a new run reports at once.
    auto restarted = makeService();
    restarted->configure(endpoint(), true, QStringLiteral("id"));
    restarted->report(AppFeature::scan, message, {});
    settle(*restarted);
    QCOMPARE(received().size(), 4);
}

void tst_ErrorReporting::blankMessagesAreIgnored()
{
    auto service = makeService();
    service->configure(endpoint(), true, QStringLiteral("id"));
    service->report(AppFeature::general, QStringLiteral(" \n\t\r\n "), {});
    service->report(AppFeature::general, QString(), {});
    settle(*service);
    QVERIFY(service->loadQueue().isEmpty());
    QVERIFY(service->loadRecent().isEmpty());
    QVERIFY(received().isEmpty());
}

void tst_ErrorReporting::nothingIsQueuedUnconfigured()
{
    auto service = makeService();
    service->report(AppFeature::general, QStringLiteral("before configure"), {});
    service->configure(QString(), true, QStringLiteral("id"));
    service->report(AppFeature::general, QStringLiteral("without an endpoint"), {});
    service->configure(endpoint(), true, QString());
    service->report(AppFeature::general, QStringLiteral("without an id"), {});
    settle(*service);
    QVERIFY(service->loadQueue().isEmpty());
    QVERIFY(service->loadRecent().isEmpty());
    QVERIFY(m_bed->server.requests().isEmpty());
}

void tst_ErrorReporting::messageIsCut()
{
    auto service = makeService();
    service->configure(endpoint(), true, QStringLiteral("id"));
    service->report(AppFeature::general, QString(2500, QChar(0x044F)), {});
    // A character outside the basic plane is not split at the limit.
    service->report(AppFeature::general, QString(1999, QLatin1Char('a')) + QStringLiteral("😀tail"), {});
    settle(*service);
    QCOMPARE(received().size(), 2);
    QCOMPARE(received().at(0).json().value(QLatin1String("message")).toString(), QString(2000, QChar(0x044F)));
    QCOMPARE(received().at(1).json().value(QLatin1String("message")).toString(), QString(1999, QLatin1Char('a')));
}

void tst_ErrorReporting::contextIsSanitised()
{
    QMap<QString, QString> context;
    context.insert(QStringLiteral("UserPassword"), QStringLiteral("hunter2"));
    context.insert(QStringLiteral("serialNumber"), QStringLiteral("C02XYZ"));
    context.insert(QStringLiteral("DISK_SERIAL"), QStringLiteral("W1234"));
    context.insert(QStringLiteral("путь"), QString(600, QLatin1Char('p')));
    context.insert(QString(70, QLatin1Char('k')), QStringLiteral("long key"));
    QMap<QString, QString> expected;
    expected.insert(QStringLiteral("путь"), QString(500, QLatin1Char('p')));
    expected.insert(QString(64, QLatin1Char('k')), QStringLiteral("long key"));
    QCOMPARE(ErrorReportingService::sanitizedContext(context), expected);

    QMap<QString, QString> many;
    for (int i = 0; i < 30; ++i) {
        many.insert(QStringLiteral("key%1").arg(i, 2, 10, QLatin1Char('0')), QString::number(i));
    }
    QCOMPARE(ErrorReportingService::sanitizedContext(many).size(), 20);

    auto service = makeService();
    service->configure(endpoint(), true, QStringLiteral("id"));
    service->report(AppFeature::cooling, QStringLiteral("fan write failed"), context);
    QTRY_COMPARE(received().size(), 1);
    const QJsonObject sent = received().first().json().value(QLatin1String("context")).toObject();
    QCOMPARE(sent.keys().size(), 2);
    QVERIFY(!sent.contains(QLatin1String("UserPassword")));
    QCOMPARE(sent.value(QStringLiteral("путь")).toString().size(), 500);
}

void tst_ErrorReporting::operationErrorsMakeOneReport()
{
    auto service = std::shared_ptr<ErrorReportingService>(makeService());
    ErrorReporter reporter(service);
    service->configure(endpoint(), true, QStringLiteral("id"));
    reporter.reportOperationErrors(AppFeature::archiveMove, {}, {});
    QStringList errors;
    for (int i = 1; i <= 7; ++i) {
        errors.append(QStringLiteral("Ошибка %1").arg(i));
    }
    reporter.reportOperationErrors(AppFeature::archiveMove, errors, {{QStringLiteral("target"), QStringLiteral("/Volumes/Архив")}});
    settle(*service);
    QCOMPARE(received().size(), 1);
    const QJsonObject sent = received().first().json();
    QCOMPARE(sent.value(QLatin1String("message")).toString(),
             QStringLiteral("Ошибка 1 | Ошибка 2 | Ошибка 3 | Ошибка 4 | Ошибка 5"));
    const QJsonObject context = sent.value(QLatin1String("context")).toObject();
    QCOMPARE(context.value(QLatin1String("error_count")).toString(), QStringLiteral("7"));
    QCOMPARE(context.value(QLatin1String("more_errors")).toString(), QStringLiteral("+2"));
    QCOMPARE(context.value(QLatin1String("target")).toString(), QStringLiteral("/Volumes/Архив"));

    QCOMPARE(ErrorReporter::operationContext({QStringLiteral("a"), QStringLiteral("b")}, {}),
             (QMap<QString, QString>{{QStringLiteral("error_count"), QStringLiteral("2")}}));
}

void tst_ErrorReporting::queueKeepsTheNewest()
{
    auto service = makeService();
    service->configure(endpoint(), true, QStringLiteral("id"));
    // The host is in its back-off: every flush keeps everything, without traffic.
    m_bed->gate->block(QStringLiteral("127.0.0.1"), 3600);
    for (int i = 1; i <= 101; ++i) {
        service->report(AppFeature::general, QStringLiteral("report %1").arg(i), {});
    }
    settle(*service);
    const ErrorReportList queue = service->loadQueue();
    QCOMPARE(queue.size(), 100);
    QCOMPARE(queue.first().message, QStringLiteral("report 2"));
    QCOMPARE(queue.last().message, QStringLiteral("report 101"));
    const ErrorReportList recent = service->loadRecent();
    QCOMPARE(recent.size(), 20);
    QCOMPARE(recent.first().message, QStringLiteral("report 82"));
    QVERIFY(m_bed->server.requests().isEmpty());
}

void tst_ErrorReporting::switchedOffKeepsTheQueue()
{
    auto service = makeService();
    m_bed->server.setStanding(QStringLiteral("/api/brisko/errors.php"), ScriptedResponse::json(500, {}));
    service->configure(endpoint(), true, QStringLiteral("id"));
    service->report(AppFeature::general, QStringLiteral("first"), {});
    service->report(AppFeature::general, QStringLiteral("second"), {});
    settle(*service);
    QCOMPARE(service->loadQueue().size(), 2);
    const qsizetype tries = received().size();

    service->configure(endpoint(), false, QStringLiteral("id"));
    service->report(AppFeature::general, QStringLiteral("while off"), {});
    settle(*service);
    QCOMPARE(service->loadQueue().size(), 2);
    QCOMPARE(received().size(), tries);

    m_bed->server.clearStanding(QStringLiteral("/api/brisko/errors.php"));
    service->configure(endpoint(), true, QStringLiteral("id"));
    settle(*service);
    QVERIFY(service->loadQueue().isEmpty());
    QCOMPARE(received().size(), tries + 2);
}

void tst_ErrorReporting::queueSurvivesARestart()
{
    {
        auto service = makeService();
        service->configure(endpoint(), true, QStringLiteral("id"));
        m_bed->gate->block(QStringLiteral("127.0.0.1"), 3600);
        service->report(AppFeature::scan, QStringLiteral("offline one"), {});
        service->report(AppFeature::update, QStringLiteral("offline two"), {});
        settle(*service);
        QCOMPARE(service->loadQueue().size(), 2);
    }
    m_bed->gate = std::make_shared<RateLimitGate>(m_bed->clock);
    auto service = makeService();
    service->configure(endpoint(), true, QStringLiteral("id"));
    settle(*service);
    QVERIFY(service->loadQueue().isEmpty());
    QCOMPARE(received().size(), 2);
    QCOMPARE(received().at(0).json().value(QLatin1String("message")).toString(), QStringLiteral("offline one"));
    QCOMPARE(received().at(1).json().value(QLatin1String("message")).toString(), QStringLiteral("offline two"));
}

void tst_ErrorReporting::unreadableQueueIsReplaced()
{
    m_bed->store->setData(ErrorReportingService::queueKey, "[{\"feature\":1}]");
    m_bed->store->setData(ErrorReportingService::recentKey, "\xff\xfe not json");
    auto service = makeService();
    QVERIFY(service->loadQueue().isEmpty());
    QVERIFY(service->loadRecent().isEmpty());
    m_bed->gate->block(QStringLiteral("127.0.0.1"), 3600);
    service->configure(endpoint(), true, QStringLiteral("id"));
    service->report(AppFeature::general, QStringLiteral("after the damage"), {});
    settle(*service);
    QCOMPARE(service->loadQueue().size(), 1);
    QCOMPARE(service->loadRecent().size(), 1);
}

void tst_ErrorReporting::overlappingFlushesLoseAndRepeatNothing()
{
    // Answers alternate between a slow failure and a quick success, and new
    // reports keep coming while requests wait.
    const QString path = QStringLiteral("/api/brisko/errors.php");
    for (int i = 0; i < 40; ++i) {
        ScriptedResponse response = ScriptedResponse::json(i % 2 == 0 ? 500 : 200, {});
        response.delayMs = i % 2 == 0 ? 60 : 0;
        m_bed->server.enqueue(path, response);
    }
    QMap<QString, int> delivered;
    connect(&m_bed->server, &LoopbackMakerServer::requestReceived, this,
            [&](const QString&, const QString& requestPath, int status) {
                if (requestPath == path && status == 200) {
                    delivered[m_bed->server.requests().last().json().value(QLatin1String("message")).toString()] += 1;
                }
            });
    auto service = makeService();
    service->configure(endpoint(), true, QStringLiteral("id"));
    QStringList messages;
    for (int i = 0; i < 12; ++i) {
        messages.append(QStringLiteral("отчёт %1").arg(i));
        service->report(AppFeature::general, messages.last(), {});
        QTest::qWait(25);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!service->isFlushing(), 20000);
    for (int round = 0; round < 20 && !service->loadQueue().isEmpty(); ++round) {
        settle(*service);
    }
    QVERIFY(service->loadQueue().isEmpty());
    QCOMPARE(delivered.size(), messages.size());
    for (const QString& message : messages) {
        QVERIFY2(delivered.value(message) == 1, qPrintable(message));
    }
}

void tst_ErrorReporting::reporterHandsOtherThreadsOver()
{
    auto service = std::shared_ptr<ErrorReportingService>(makeService());
    auto reporter = std::make_shared<ErrorReporter>(service);
    AppSettings settings = AppSettings::defaults(m_bed->dir.path());
    settings.errorsEndpoint = endpoint();
    std::unique_ptr<QThread> worker(QThread::create([reporter, settings] {
        reporter->configure(settings, QStringLiteral("from-a-worker"));
        reporter->report(AppFeature::safeCleanup, QStringLiteral("Кэш занят другим процессом"), {});
    }));
    worker->start();
    QVERIFY(worker->wait(10000));
    QTRY_COMPARE(received().size(), 1);
    QCOMPARE(received().first().json().value(QLatin1String("anonymous_id")).toString(), QStringLiteral("from-a-worker"));
    QCOMPARE(received().first().json().value(QLatin1String("feature")).toString(), QStringLiteral("safe_cleanup"));

    settle(*service);
}

void tst_ErrorReporting::recentSummariesNewestFirst()
{
    auto service = makeService();
    service->configure(endpoint(), true, QStringLiteral("id"));
    for (int i = 1; i <= 7; ++i) {
        service->report(AppFeature::scan, QStringLiteral("сбой %1").arg(i), {});
    }
    service->report(AppFeature::update, QString(300, QLatin1Char('u')), {});
    settle(*service);
    const QStringList summaries = ErrorReportingService::recentSummaries(m_bed->store, 5);
    QCOMPARE(summaries.size(), 5);
    QCOMPARE(summaries.at(0), QStringLiteral("update: ") + QString(200, QLatin1Char('u')));
    QCOMPARE(summaries.at(1), QStringLiteral("scan: сбой 7"));
    QCOMPARE(summaries.at(4), QStringLiteral("scan: сбой 4"));
}

BRISKO_TEST(tst_ErrorReporting)
#include "tst_ErrorReporting.moc"
