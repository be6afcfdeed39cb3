#include "BriskoTest.h"
#include "ServerTestCase.h"

#include "server/AnalyticsService.h"

#include <QRegularExpression>
#include <QtTest>

// Usage events: the installation id, what an event holds, the cap of the
// queue and the switch. The queue's own rules are tst_StoredQueue's.
class tst_AnalyticsService : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void idIsMadeOnceAndKept();
    void trackedEventIsSent();
    void switchedOffRecordsAndSendsNothing();
    void queueKeepsTheNewest200();

private:
    std::unique_ptr<AnalyticsService> makeService()
    {
        return std::make_unique<AnalyticsService>(m_bed->store, m_bed->clock, m_bed->client(), ServerTestBed::info());
    }
    QString endpoint() const { return m_bed->endpoint(events); }

    const QString events = QStringLiteral("events.php");
};

void tst_AnalyticsService::idIsMadeOnceAndKept()
{
    const QString first = makeService()->anonymousId();
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}$")).match(first).hasMatch());
    QCOMPARE(m_bed->store->data(AnalyticsService::anonymousIdKey), first.toUtf8());
    QCOMPARE(makeService()->anonymousId(), first);

    m_bed->store->setData(AnalyticsService::anonymousIdKey, "\xff not an id");
    const QString replaced = makeService()->anonymousId();
    QCOMPARE(replaced.size(), 36);
    QVERIFY(replaced != first);
    QCOMPARE(m_bed->store->data(AnalyticsService::anonymousIdKey), replaced.toUtf8());
}

void tst_AnalyticsService::trackedEventIsSent()
{
    auto service = makeService();
    service->track(QStringLiteral("scan_completed"),
                   {{QStringLiteral("items"), QStringLiteral("12")}, {QStringLiteral("category"), QStringLiteral("largeFolders")}},
                   true, endpoint());
    QTRY_COMPARE(m_bed->received(events).size(), 1);
    const QJsonObject sent = m_bed->received(events).first().json();
    QCOMPARE(sent, QJsonObject({{QStringLiteral("anonymous_id"), service->anonymousId()},
                                {QStringLiteral("app_version"), QStringLiteral("1.4.2")},
                                {QStringLiteral("build"), QStringLiteral("42")},
                                {QStringLiteral("event"), QStringLiteral("scan_completed")},
                                {QStringLiteral("metadata"), QJsonObject{{QStringLiteral("items"), QStringLiteral("12")},
                                                                         {QStringLiteral("category"), QStringLiteral("largeFolders")}}},
                                {QStringLiteral("os_version"), ServerTestBed::info().osVersion},
                                {QStringLiteral("timestamp"), QStringLiteral("2026-03-14T06:30:15Z")}}));
    QVERIFY(ServerTestBed::await(service->whenIdle()));
    QVERIFY(service->loadQueue().isEmpty());
}

void tst_AnalyticsService::switchedOffRecordsAndSendsNothing()
{
    auto service = makeService();
    // The host is rate-limited: the event stays queued.
    m_bed->gate->block(QStringLiteral("127.0.0.1"), 600);
    service->track(QStringLiteral("app_launch"), {}, true, endpoint());
    QVERIFY(ServerTestBed::await(service->whenIdle()));
    service->track(QStringLiteral("scan_started"), {{QStringLiteral("categories"), QStringLiteral("appCaches")}}, false,
                   endpoint());
    QCOMPARE(service->loadQueue().size(), 1);

    // Switched off, a flush sends nothing and keeps the queue for later.
    service->waitForQueueWrites();
    m_bed->restart();
    auto fresh = makeService();
    QVERIFY(ServerTestBed::await(fresh->flush(endpoint(), false)));
    QVERIFY(m_bed->received(events).isEmpty());
    QCOMPARE(fresh->loadQueue().size(), 1);
    QVERIFY(ServerTestBed::await(fresh->flush(endpoint(), true)));
    QCOMPARE(m_bed->sent(events, QStringLiteral("event")), QStringList({QStringLiteral("app_launch")}));
    QVERIFY(fresh->loadQueue().isEmpty());
}

void tst_AnalyticsService::queueKeepsTheNewest200()
{
    auto service = makeService();
    QVERIFY(service->saveQueue(AnalyticsEventList(200)));
    service->track(QStringLiteral("event_201"), {}, true, QString());
    QCOMPARE(service->loadQueue().size(), 200);
    QCOMPARE(service->loadQueue().last().event, QStringLiteral("event_201"));
}

BRISKO_TEST(tst_AnalyticsService)
#include "tst_AnalyticsService.moc"
