#include "BriskoTest.h"
#include "ServerTestCase.h"

#include "model/AppSettings.h"
#include "server/ErrorReporter.h"

#include <QThread>
#include <QtTest>

// Error reports: what a report holds, de-duplication, sanitising, the caps,
// the switch and the hand-over from other threads. The queue's own rules are
// tst_StoredQueue's.
class tst_ErrorReporting : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void reportIsSentWithItsFields();
    void sameReportWithinTwoMinutesIsSentOnce();
    void nothingIsRecordedUnconfiguredOrBlank();
    void messageAndContextAreCut();
    void operationErrorsMakeOneReport();
    void queueAndRecentKeepTheNewest();
    void switchedOffKeepsTheQueue();
    void reporterHandsOtherThreadsOver();

private:
    std::unique_ptr<ErrorReportingService> makeService(bool configured = true)
    {
        auto service = std::make_unique<ErrorReportingService>(m_bed->store, m_bed->clock, m_bed->client(),
                                                               ServerTestBed::info());
        if (configured) {
            service->configure(m_bed->endpoint(errors), true, QStringLiteral("id"));
        }
        return service;
    }
    // Lets every flush that was started end.
    void settle(ErrorReportingService& service)
    {
        QVERIFY(ServerTestBed::await(service.flushQueue()));
        QVERIFY(!service.isFlushing());
    }
    QStringList sent(const QString& field) const { return m_bed->sent(errors, field); }

    const QString errors = QStringLiteral("errors.php");
};

void tst_ErrorReporting::reportIsSentWithItsFields()
{
    auto service = makeService(false);
    service->configure(m_bed->endpoint(errors), true, QStringLiteral("3f2c1e9a-0000-4000-8000-000000000001"));
    service->report(AppFeature::archiveMove, QStringLiteral("  Не удалось перенести «Фото 2024»\n"),
                    {{QStringLiteral("path"), QStringLiteral("/Users/Анна/Movies")}});
    QTRY_COMPARE(m_bed->received(errors).size(), 1);
    QCOMPARE(m_bed->received(errors).first().json(),
             QJsonObject({{QStringLiteral("anonymous_id"), QStringLiteral("3f2c1e9a-0000-4000-8000-000000000001")},
                          {QStringLiteral("feature"), QStringLiteral("archive_move")},
                          {QStringLiteral("message"), QStringLiteral("Не удалось перенести «Фото 2024»")},
                          {QStringLiteral("app_version"), QStringLiteral("1.4.2")},
                          {QStringLiteral("build"), QStringLiteral("42")},
                          {QStringLiteral("os_version"), ServerTestBed::info().osVersion},
                          {QStringLiteral("timestamp"), QStringLiteral("2026-03-14T06:30:15Z")},
                          {QStringLiteral("context"), QJsonObject{{QStringLiteral("path"), QStringLiteral("/Users/Анна/Movies")}}}}));
    settle(*service);
    QVERIFY(service->loadQueue().isEmpty());
    QCOMPARE(service->loadRecent().size(), 1);
}

void tst_ErrorReporting::sameReportWithinTwoMinutesIsSentOnce()
{
    auto service = makeService();
    const QString message = QStringLiteral("Нет доступа к папке");
    service->report(AppFeature::scan, message, {});
    m_bed->clock->advance(119);
    service->report(AppFeature::scan, QStringLiteral("  ") + message, {});
    // Another feature is another fault.
    service->report(AppFeature::cleanArchive, message, {});
    settle(*service);
    QCOMPARE(sent(QStringLiteral("feature")), QStringList({QStringLiteral("scan"), QStringLiteral("clean_archive")}));

    m_bed->clock->advance(2);
    service->report(AppFeature::scan, message, {});
    settle(*service);
    QCOMPARE(sent(QStringLiteral("feature")).size(), 3);

    // The window is in memory only: a new run reports at once.
    auto restarted = makeService();
    restarted->report(AppFeature::scan, message, {});
    settle(*restarted);
    QCOMPARE(sent(QStringLiteral("feature")).size(), 4);
}

void tst_ErrorReporting::nothingIsRecordedUnconfiguredOrBlank()
{
    auto service = makeService(false);
    service->report(AppFeature::general, QStringLiteral("before configure"), {});
    service->configure(QString(), true, QStringLiteral("id"));
    service->report(AppFeature::general, QStringLiteral("without an endpoint"), {});
    service->configure(m_bed->endpoint(errors), true, QString());
    service->report(AppFeature::general, QStringLiteral("without an id"), {});
    service->configure(m_bed->endpoint(errors), true, QStringLiteral("id"));
    service->report(AppFeature::general, QStringLiteral(" \n\t\r\n "), {});
    service->report(AppFeature::general, QString(), {});
    settle(*service);
    QVERIFY(service->loadQueue().isEmpty());
    QVERIFY(service->loadRecent().isEmpty());
    QVERIFY(m_bed->server.requests().isEmpty());
}

void tst_ErrorReporting::messageAndContextAreCut()
{
    QMap<QString, QString> context{{QStringLiteral("UserPassword"), QStringLiteral("hunter2")},
                                   {QStringLiteral("serialNumber"), QStringLiteral("C02XYZ")},
                                   {QStringLiteral("DISK_SERIAL"), QStringLiteral("W1234")},
                                   {QStringLiteral("путь"), QString(600, QLatin1Char('p'))},
                                   {QString(70, QLatin1Char('k')), QStringLiteral("long key")}};
    const QMap<QString, QString> expected{{QStringLiteral("путь"), QString(500, QLatin1Char('p'))},
                                          {QString(64, QLatin1Char('k')), QStringLiteral("long key")}};
    QCOMPARE(ErrorReportingService::sanitizedContext(context), expected);
    QMap<QString, QString> many;
    for (int i = 0; i < 30; ++i) {
        many.insert(QStringLiteral("key%1").arg(i, 2, 10, QLatin1Char('0')), QString::number(i));
    }
    QCOMPARE(ErrorReportingService::sanitizedContext(many).size(), 20);

    auto service = makeService();
    service->report(AppFeature::cooling, QString(2500, QChar(0x044F)), context);
    // A character outside the basic plane is not split at the limit.
    service->report(AppFeature::general, QString(1999, QLatin1Char('a')) + QStringLiteral("😀tail"), {});
    settle(*service);
    QCOMPARE(sent(QStringLiteral("message")), QStringList({QString(2000, QChar(0x044F)), QString(1999, QLatin1Char('a'))}));
    QCOMPARE(m_bed->received(errors).first().json().value(QLatin1String("context")).toObject(),
             QJsonObject({{QStringLiteral("путь"), QString(500, QLatin1Char('p'))},
                          {QString(64, QLatin1Char('k')), QStringLiteral("long key")}}));
}

void tst_ErrorReporting::operationErrorsMakeOneReport()
{
    auto service = std::shared_ptr<ErrorReportingService>(makeService());
    ErrorReporter reporter(service);
    reporter.reportOperationErrors(AppFeature::archiveMove, {}, {});
    QStringList errorTexts;
    for (int i = 1; i <= 7; ++i) {
        errorTexts.append(QStringLiteral("Ошибка %1").arg(i));
    }
    reporter.reportOperationErrors(AppFeature::archiveMove, errorTexts, {{QStringLiteral("target"), QStringLiteral("/Volumes/Архив")}});
    settle(*service);
    QCOMPARE(sent(QStringLiteral("message")),
             QStringList({QStringLiteral("Ошибка 1 | Ошибка 2 | Ошибка 3 | Ошибка 4 | Ошибка 5")}));
    QCOMPARE(m_bed->received(errors).first().json().value(QLatin1String("context")).toObject(),
             QJsonObject({{QStringLiteral("error_count"), QStringLiteral("7")},
                          {QStringLiteral("more_errors"), QStringLiteral("+2")},
                          {QStringLiteral("target"), QStringLiteral("/Volumes/Архив")}}));
    QCOMPARE(ErrorReporter::operationContext({QStringLiteral("a"), QStringLiteral("b")}, {}),
             (QMap<QString, QString>{{QStringLiteral("error_count"), QStringLiteral("2")}}));
    // Without a service the reports go nowhere.
    ErrorReporter(nullptr).reportOperationErrors(AppFeature::scan, errorTexts, {});
}

void tst_ErrorReporting::queueAndRecentKeepTheNewest()
{
    auto service = makeService();
    // The host is in its back-off: every flush keeps everything, without traffic.
    m_bed->gate->block(QStringLiteral("127.0.0.1"), 3600);
    for (int i = 1; i <= 100; ++i) {
        service->report(AppFeature::scan, QStringLiteral("сбой %1").arg(i), {});
    }
    service->report(AppFeature::update, QString(300, QLatin1Char('u')), {});
    settle(*service);
    const ErrorReportList queue = service->loadQueue();
    QCOMPARE(queue.size(), 100);
    QCOMPARE(queue.first().message, QStringLiteral("сбой 2"));
    const ErrorReportList recent = service->loadRecent();
    QCOMPARE(recent.size(), 20);
    QCOMPARE(recent.first().message, QStringLiteral("сбой 82"));
    QVERIFY(m_bed->server.requests().isEmpty());
    service->waitForListWrites();
    QCOMPARE(ErrorReportingService::recentSummaries(m_bed->store, 3),
             QStringList({QStringLiteral("update: ") + QString(200, QLatin1Char('u')), QStringLiteral("scan: сбой 100"),
                          QStringLiteral("scan: сбой 99")}));
}

void tst_ErrorReporting::switchedOffKeepsTheQueue()
{
    auto service = makeService();
    m_bed->server.setStanding(ServerTestBed::apiPath(errors), ScriptedResponse::json(500, {}));
    service->report(AppFeature::general, QStringLiteral("first"), {});
    service->report(AppFeature::general, QStringLiteral("second"), {});
    settle(*service);
    QCOMPARE(service->loadQueue().size(), 2);
    const qsizetype tries = m_bed->received(errors).size();

    service->configure(m_bed->endpoint(errors), false, QStringLiteral("id"));
    service->report(AppFeature::general, QStringLiteral("while off"), {});
    settle(*service);
    QCOMPARE(service->loadQueue().size(), 2);
    QCOMPARE(m_bed->received(errors).size(), tries);

    m_bed->server.clearStanding(ServerTestBed::apiPath(errors));
    service->configure(m_bed->endpoint(errors), true, QStringLiteral("id"));
    settle(*service);
    QVERIFY(service->loadQueue().isEmpty());
    QCOMPARE(m_bed->received(errors).size(), tries + 2);
}

void tst_ErrorReporting::reporterHandsOtherThreadsOver()
{
    auto service = std::shared_ptr<ErrorReportingService>(makeService(false));
    auto reporter = std::make_shared<ErrorReporter>(service);
    AppSettings settings = AppSettings::defaults(m_bed->dir.path());
    settings.errorsEndpoint = m_bed->endpoint(errors);
    std::unique_ptr<QThread> worker(QThread::create([reporter, settings] {
        reporter->configure(settings, QStringLiteral("from-a-worker"));
        reporter->report(AppFeature::safeCleanup, QStringLiteral("Кэш занят другим процессом"), {});
    }));
    worker->start();
    QVERIFY(worker->wait(10000));
    QTRY_COMPARE(m_bed->received(errors).size(), 1);
    QCOMPARE(sent(QStringLiteral("anonymous_id")), QStringList({QStringLiteral("from-a-worker")}));
    QCOMPARE(sent(QStringLiteral("feature")), QStringList({QStringLiteral("safe_cleanup")}));
    settle(*service);
}

BRISKO_TEST(tst_ErrorReporting)
#include "tst_ErrorReporting.moc"
