#include "BriskoTest.h"
#include "ServerTestBed.h"

#include "server/AnalyticsService.h"
#include "server/ServerServices.h"

#include <QRegularExpression>
#include <QtTest>

// Usage events: the installation id, the capped queue, the opt-out and the
// flushes against a real loopback server.
class tst_AnalyticsService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void idIsMadeOnceAndKept();
    void unreadableIdIsReplaced();
    void trackedEventIsSent();
    void switchedOffRecordsNothing();
    void badEndpointKeepsEventsQueued_data();
    void badEndpointKeepsEventsQueued();
    void queueKeepsTheNewest200();
    void offlineEventsAreDeliveredLater();
    void eventsDuringASlowFlushAreSentOnce();
    void interruptedFlushLosesNothing();
    void sendsCutShortAtTheEndStayQueued();

private:
    std::unique_ptr<AnalyticsService> makeService();
    QString endpoint() const { return m_bed->server.endpoint(QStringLiteral("events.php")); }
    QList<RecordedRequest> received() const { return m_bed->server.requests(QStringLiteral("/api/brisko/events.php")); }

    std::unique_ptr<ServerTestBed> m_bed;
};

void tst_AnalyticsService::init()
{
    m_bed = std::make_unique<ServerTestBed>();
    QVERIFY(m_bed->isValid());
}

void tst_AnalyticsService::cleanup()
{
    m_bed.reset();
}

std::unique_ptr<AnalyticsService> tst_AnalyticsService::makeService()
{
    return std::make_unique<AnalyticsService>(m_bed->store, m_bed->clock, m_bed->client(), ServerTestBed::info());
}

void tst_AnalyticsService::idIsMadeOnceAndKept()
{
    QString first;
    {
        auto service = makeService();
        first = service->anonymousId();
    }
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"))
                .match(first)
                .hasMatch());
    QCOMPARE(m_bed->store->data(AnalyticsService::anonymousIdKey), first.toUtf8());
    QCOMPARE(makeService()->anonymousId(), first);
}

void tst_AnalyticsService::unreadableIdIsReplaced()
{
    m_bed->store->setData(AnalyticsService::anonymousIdKey, "\xff not an id");
    const QString id = makeService()->anonymousId();
    QCOMPARE(id.size(), 36);
    QCOMPARE(m_bed->store->data(AnalyticsService::anonymousIdKey), id.toUtf8());
}

void tst_AnalyticsService::trackedEventIsSent()
{
    auto service = makeService();
    service->track(QStringLiteral("scan_completed"),
                   {{QStringLiteral("items"), QStringLiteral("12")}, {QStringLiteral("category"), QStringLiteral("largeFolders")}},
                   true, endpoint());
    QTRY_COMPARE(received().size(), 1);
    const QJsonObject sent = received().first().json();
    QCOMPARE(sent.keys(), QStringList({QStringLiteral("anonymous_id"), QStringLiteral("app_version"), QStringLiteral("build"),
                                       QStringLiteral("event"), QStringLiteral("metadata"), QStringLiteral("os_version"),
                                       QStringLiteral("timestamp")}));
    QCOMPARE(sent.value(QLatin1String("anonymous_id")).toString(), service->anonymousId());
    QCOMPARE(sent.value(QLatin1String("event")).toString(), QStringLiteral("scan_completed"));
    QCOMPARE(sent.value(QLatin1String("timestamp")).toString(), QStringLiteral("2026-03-14T06:30:15Z"));
    QCOMPARE(sent.value(QLatin1String("metadata")).toObject().value(QLatin1String("items")).toString(), QStringLiteral("12"));
    QVERIFY(ServerTestBed::await(service->flush(endpoint(), true)));
    QVERIFY(service->loadQueue().isEmpty());
}

void tst_AnalyticsService::switchedOffRecordsNothing()
{
    auto service = makeService();
    m_bed->gate->block(QStringLiteral("127.0.0.1"), 600);
    service->track(QStringLiteral("app_launch"), {}, true, endpoint());
    const QByteArray before = m_bed->store->data(AnalyticsService::queueKey).value_or(QByteArray());
    service->track(QStringLiteral("scan_started"), {{QStringLiteral("categories"), QStringLiteral("appCaches")}}, false,
                   endpoint());
    QCOMPARE(m_bed->store->data(AnalyticsService::queueKey).value_or(QByteArray()), before);

    // Switched off, a flush sends nothing and keeps the queue for later.
    m_bed->gate = std::make_shared<RateLimitGate>(m_bed->clock);
    auto fresh = makeService();
    QVERIFY(ServerTestBed::await(fresh->flush(endpoint(), false)));
    QVERIFY(received().isEmpty());
    QCOMPARE(fresh->loadQueue().size(), 1);
    QVERIFY(ServerTestBed::await(fresh->flush(endpoint(), true)));
    QCOMPARE(received().size(), 1);
    QVERIFY(fresh->loadQueue().isEmpty());
}

void tst_AnalyticsService::badEndpointKeepsEventsQueued_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::newRow("empty") << QString();
    QTest::newRow("malformed") << "http//events";
    QTest::newRow("not http") << "file:///tmp/events.php";
}

void tst_AnalyticsService::badEndpointKeepsEventsQueued()
{
    QFETCH(QString, endpoint);
    auto service = makeService();
    service->track(QStringLiteral("app_launch"), {}, true, endpoint);
    service->track(QStringLiteral("ad_click"), {{QStringLiteral("ad_id"), QStringLiteral("promo")}}, true, endpoint);
    QVERIFY(ServerTestBed::await(service->flush(endpoint, true)));
    QCOMPARE(service->loadQueue().size(), 2);
    QVERIFY(m_bed->server.requests().isEmpty());
}

void tst_AnalyticsService::queueKeepsTheNewest200()
{
    auto service = makeService();
    AnalyticsEventList events;
    for (int i = 1; i <= 200; ++i) {
        AnalyticsEvent event;
        event.anonymousId = service->anonymousId();
        event.event = QStringLiteral("event_%1").arg(i);
        events.append(event);
    }
    QVERIFY(service->saveQueue(events));
    service->track(QStringLiteral("event_201"), {}, true, QString());
    const AnalyticsEventList queue = service->loadQueue();
    QCOMPARE(queue.size(), 200);
    QCOMPARE(queue.first().event, QStringLiteral("event_2"));
    QCOMPARE(queue.last().event, QStringLiteral("event_201"));
}

void tst_AnalyticsService::offlineEventsAreDeliveredLater()
{
    {
        auto service = makeService();
        m_bed->server.setStanding(QStringLiteral("/api/brisko/events.php"), ScriptedResponse::json(503, {}));
        service->track(QStringLiteral("app_launch"), {}, true, endpoint());
        service->track(QStringLiteral("archive_move"), {{QStringLiteral("moved"), QStringLiteral("3")}}, true, endpoint());
        QVERIFY(ServerTestBed::await(service->flush(endpoint(), true)));
        QCOMPARE(service->loadQueue().size(), 2);
    }
    m_bed->server.clearStanding(QStringLiteral("/api/brisko/events.php"));
    const qsizetype refused = received().size();
    auto nextLaunch = makeService();
    QVERIFY(ServerTestBed::await(nextLaunch->flush(endpoint(), true)));
    QVERIFY(nextLaunch->loadQueue().isEmpty());
    const QList<RecordedRequest> all = received();
    QCOMPARE(all.size(), refused + 2);
    QCOMPARE(all.at(refused).json().value(QLatin1String("event")).toString(), QStringLiteral("app_launch"));
    QCOMPARE(all.at(refused + 1).json().value(QLatin1String("event")).toString(), QStringLiteral("archive_move"));
}

void tst_AnalyticsService::eventsDuringASlowFlushAreSentOnce()
{
    const QString path = QStringLiteral("/api/brisko/events.php");
    for (int i = 0; i < 60; ++i) {
        ScriptedResponse response = ScriptedResponse::json(i % 3 == 1 ? 500 : 200, {});
        response.delayMs = i % 2 == 0 ? 40 : 0;
        m_bed->server.enqueue(path, response);
    }
    QMap<QString, int> delivered;
    connect(&m_bed->server, &LoopbackMakerServer::requestReceived, this,
            [&](const QString&, const QString& requestPath, int status) {
                if (requestPath == path && status == 200) {
                    delivered[m_bed->server.requests().last().json().value(QLatin1String("event")).toString()] += 1;
                }
            });
    auto service = makeService();
    for (int i = 0; i < 15; ++i) {
        service->track(QStringLiteral("event_%1").arg(i), {}, true, endpoint());
        QTest::qWait(15);
    }
    for (int round = 0; round < 20 && !service->loadQueue().isEmpty(); ++round) {
        QVERIFY(ServerTestBed::await(service->flush(endpoint(), true)));
    }
    QVERIFY(service->loadQueue().isEmpty());
    QCOMPARE(delivered.size(), 15);
    for (auto it = delivered.constBegin(); it != delivered.constEnd(); ++it) {
        QVERIFY2(it.value() == 1, qPrintable(it.key()));
    }
}

void tst_AnalyticsService::interruptedFlushLosesNothing()
{
    const QString path = QStringLiteral("/api/brisko/events.php");
    ScriptedResponse slow = ScriptedResponse::json(200, {});
    slow.delayMs = 300;
    m_bed->server.enqueue(path, slow);
    {
        auto service = makeService();
        m_bed->gate->block(QStringLiteral("127.0.0.1"), 1);
        for (int i = 0; i < 3; ++i) {
            service->track(QStringLiteral("event_%1").arg(i), {}, true, endpoint());
        }
        m_bed->clock->advance(2);
        service->flush(endpoint(), true);
        QTRY_COMPARE(received().size(), 1);
        // The program ends while the server still holds the first event.
    }
    auto nextRun = makeService();
    QCOMPARE(nextRun->loadQueue().size(), 3);
    QVERIFY(ServerTestBed::await(nextRun->flush(endpoint(), true)));
    QVERIFY(nextRun->loadQueue().isEmpty());
    QStringList events;
    for (const RecordedRequest& request : received()) {
        events.append(request.json().value(QLatin1String("event")).toString());
    }
    // Only the event whose answer never arrived is sent again.
    events.sort();
    QCOMPARE(events, QStringList({QStringLiteral("event_0"), QStringLiteral("event_0"), QStringLiteral("event_1"),
                                  QStringLiteral("event_2")}));
}

void tst_AnalyticsService::sendsCutShortAtTheEndStayQueued()
{
    const QString path = QStringLiteral("/api/brisko/events.php");
    ScriptedResponse silent;
    silent.ending = ScriptedResponse::Ending::neverAnswer;
    m_bed->server.setStanding(path, silent);
    m_bed->gate->persistIn(m_bed->store);
    {
        auto service = makeService();
        service->setPostTimeout(std::chrono::minutes(10));
        for (int i = 0; i < 3; ++i) {
            service->track(QStringLiteral("event_%1").arg(i), {}, true, endpoint());
        }
        QTRY_COMPARE(received().size(), 1);
        // The run ends after its grace with the first post unanswered: the
        // host counts as unreachable, also for the next run.
        QVERIFY(!ServerServices::awaitSends({service->whenIdle()}, std::chrono::milliseconds(50)));
        QCOMPARE(m_bed->gate->abandonUnanswered(), QStringList({QStringLiteral("127.0.0.1")}));
        QCOMPARE(service->loadQueue().size(), 3);
    }
    m_bed->server.clearStanding(path);
    m_bed->gate = std::make_shared<RateLimitGate>(m_bed->clock);
    m_bed->gate->persistIn(m_bed->store);
    auto nextRun = makeService();
    nextRun->track(QStringLiteral("event_3"), {}, true, endpoint());
    QVERIFY(ServerTestBed::await(nextRun->whenIdle()));
    QCOMPARE(nextRun->loadQueue().size(), 4);
    QCOMPARE(received().size(), 1);

    m_bed->clock->advance(60);
    QVERIFY(ServerServices::awaitSends({nextRun->flush(endpoint(), true)}, std::chrono::minutes(1)));
    QVERIFY(nextRun->loadQueue().isEmpty());
    QStringList delivered;
    for (const RecordedRequest& request : received().mid(1)) {
        delivered.append(request.json().value(QLatin1String("event")).toString());
    }
    delivered.sort();
    QCOMPARE(delivered, QStringList({QStringLiteral("event_0"), QStringLiteral("event_1"), QStringLiteral("event_2"),
                                     QStringLiteral("event_3")}));
}

BRISKO_TEST(tst_AnalyticsService)
#include "tst_AnalyticsService.moc"
