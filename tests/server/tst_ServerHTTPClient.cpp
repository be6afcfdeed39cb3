#include "BriskoTest.h"
#include "ServerTestCase.h"

#include <QTcpServer>
#include <QtTest>

using namespace std::chrono_literals;

// Posting records, the per-host back-off after status 429 and after a host
// that does not answer, and the posts per host, against a real loopback
// server; the back-offs run on a fake clock.
class tst_ServerHTTPClient : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void parseRetryAfter_data();
    void parseRetryAfter();
    void postsCompactJson();
    void outcomes_data();
    void outcomes();
    void rateLimitBlocksTheWholeHost();
    void backoffDoublesUpToAnHour();
    void oneAttemptWhileUnreachable();
    void slotsPerHost();
    void backoffIsKeptInTheStore();
    void unusableStoredBackoffs_data();
    void unusableStoredBackoffs();

private:
    // name: an endpoint of the loopback server.
    PostOutcome post(const QString& name, std::chrono::milliseconds timeout = 20s,
                     const QJsonObject& body = {{QStringLiteral("event"), QStringLiteral("x")}})
    {
        std::optional<PostOutcome> outcome;
        m_bed->client().postJSON(QUrl(m_bed->endpoint(name)), body, timeout, [&outcome](PostOutcome o) { outcome = o; });
        [&] { QVERIFY(!outcome); }();
        [&] { QTRY_VERIFY_WITH_TIMEOUT(outcome.has_value(), 20000); }();
        return outcome.value_or(PostOutcome::failed());
    }
    RateLimitGate& gate() { return *m_bed->gate; }

    const QString host = QStringLiteral("127.0.0.1");
    const QString maker = QStringLiteral("maker.example");
    const QString events = QStringLiteral("events.php");
};

void tst_ServerHTTPClient::parseRetryAfter_data()
{
    QTest::addColumn<QByteArray>("header"); // null: none
    QTest::addColumn<double>("seconds");
    QTest::newRow("missing") << QByteArray() << 60.0;
    QTest::newRow("blanks") << QByteArray("  ") << 60.0;
    QTest::newRow("fraction, padded") << QByteArray(" 2.5 ") << 2.5;
    QTest::newRow("below one") << QByteArray("0.2") << 1.0;
    QTest::newRow("negative") << QByteArray("-30") << 1.0;
    QTest::newRow("HTTP date") << QByteArray("Wed, 21 Oct 2026 07:28:00 GMT") << 60.0;
    QTest::newRow("not a number") << QByteArray("nan") << 60.0;
    QTest::newRow("infinite") << QByteArray("inf") << 60.0;
    QTest::newRow("beyond a day") << QByteArray("1e300") << 86400.0;
}

void tst_ServerHTTPClient::parseRetryAfter()
{
    QFETCH(QByteArray, header);
    QFETCH(double, seconds);
    QCOMPARE(ServerHTTPClient::parseRetryAfter(header.isNull() ? std::nullopt : std::optional(header)), seconds);
}

void tst_ServerHTTPClient::postsCompactJson()
{
    const QJsonObject body{{QStringLiteral("event"), QStringLiteral("scan_completed")},
                           {QStringLiteral("metadata"), QJsonObject{{QStringLiteral("папка"), QStringLiteral("Загрузки")}}}};
    QCOMPARE(post(events, 20s, body), PostOutcome::delivered());
    const QList<RecordedRequest> received = m_bed->received(events);
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().method, QByteArray("POST"));
    QCOMPARE(received.first().header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(received.first().body, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

// The body is never looked at, even when it is not JSON. Without an answer
// the host is left alone for a minute; an answer of any kind, however slow
// its body, proves it reachable. A post with a status is done at once, long
// before its time limit (timeout 0: ten minutes).
void tst_ServerHTTPClient::outcomes_data()
{
    QTest::addColumn<ScriptedResponse>("response");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<PostOutcome>("outcome");
    QTest::addColumn<bool>("backingOff");
    QTest::newRow("200") << ScriptedResponse::json(200, "<html>") << 0 << PostOutcome::delivered() << false;
    QTest::newRow("299") << ScriptedResponse::json(299, "<html>") << 0 << PostOutcome::delivered() << false;
    QTest::newRow("301 without a target") << ScriptedResponse::json(301, "<html>") << 0 << PostOutcome::failed() << false;
    QTest::newRow("500") << ScriptedResponse::json(500, "<html>") << 0 << PostOutcome::failed() << false;
    QTest::newRow("429 without Retry-After") << ScriptedResponse::json(429, "<html>") << 0 << PostOutcome::rateLimited(60)
                                             << false;
    QTest::newRow("silent server") << ScriptedResponse::silent() << 400 << PostOutcome::failed() << true;
    QTest::newRow("answer after the time-out") << ScriptedResponse::delayed(200, 3000) << 400 << PostOutcome::failed() << true;
    QTest::newRow("connection closed") << ScriptedResponse::closed() << 400 << PostOutcome::failed() << true;
    QTest::newRow("status at once, body of a minute")
        << ScriptedResponse::dripping(QByteArray(60, ' '), ScriptedResponse::unannounced) << 0 << PostOutcome::delivered() << false;
    QTest::newRow("status at once, endless body")
        << ScriptedResponse::generated(qint64(1) << 40, ScriptedResponse::unannounced) << 0 << PostOutcome::delivered() << false;
}

void tst_ServerHTTPClient::outcomes()
{
    QFETCH(ScriptedResponse, response);
    QFETCH(int, timeoutMs);
    QFETCH(PostOutcome, outcome);
    QFETCH(bool, backingOff);
    m_bed->server.setStanding(ServerTestBed::apiPath(events), response);
    QCOMPARE(post(events, timeoutMs > 0 ? std::chrono::milliseconds(timeoutMs) : 10min), outcome);
    // The body of a post is never read: what the server pushes stays in the socket buffers.
    QVERIFY(m_bed->server.generatedBytesSent() < qint64(64) << 20);
    QCOMPARE(gate().isBackingOff(host), backingOff);
}

void tst_ServerHTTPClient::rateLimitBlocksTheWholeHost()
{
    m_bed->server.enqueue(ServerTestBed::apiPath(events), ScriptedResponse::withHeader(429, "Retry-After", "120.5"));
    QCOMPARE(post(events), PostOutcome::rateLimited(120.5));
    QCOMPARE(ServerHTTPClient::gateKey(QUrl(m_bed->endpoint(events))), host);

    m_bed->clock->setNow(m_bed->clock->now().addMSecs(120400));
    QCOMPARE(post(events), PostOutcome::rateLimited(60));
    // Another endpoint on the same host shares the block.
    QCOMPARE(post(QStringLiteral("errors.php")), PostOutcome::rateLimited(60));
    QCOMPARE(m_bed->server.requests().size(), 1);
    // A host name is its own key, even for the same machine.
    const QUrl byName(QStringLiteral("http://localhost:%1/api/brisko/events.php").arg(m_bed->server.port()));
    QCOMPARE(ServerHTTPClient::gateKey(byName), QStringLiteral("localhost"));
    QVERIFY(!gate().isBlocked(QStringLiteral("localhost")));

    m_bed->clock->setNow(m_bed->clock->now().addMSecs(200));
    QVERIFY(!gate().isBlocked(host));
    QCOMPARE(post(events), PostOutcome::delivered());
    QCOMPARE(m_bed->server.requests().size(), 2);
}

void tst_ServerHTTPClient::backoffDoublesUpToAnHour()
{
    const QString path = ServerTestBed::apiPath(events);
    m_bed->server.setStanding(path, ScriptedResponse::silent());
    for (const qint64 seconds : {60, 120, 240, 480, 960, 1920, 3600, 3600}) {
        const qsizetype before = m_bed->server.count(path);
        QCOMPARE(post(events, 200ms), PostOutcome::failed());
        QCOMPARE(m_bed->server.count(path), before + 1);
        m_bed->clock->advance(seconds - 1);
        // Every endpoint of the host waits, without a request.
        QCOMPARE(post(QStringLiteral("errors.php")), PostOutcome::failed());
        QCOMPARE(m_bed->server.requests().size(), before + 1);
        m_bed->clock->advance(1);
        QVERIFY(!gate().isBackingOff(host));
    }
    // The first answer ends it; the next failure starts again at a minute.
    m_bed->server.clearStanding(path);
    QCOMPARE(post(events), PostOutcome::delivered());
    m_bed->server.setStanding(path, ScriptedResponse::silent());
    QCOMPARE(post(events, 200ms), PostOutcome::failed());
    m_bed->clock->advance(59);
    QVERIFY(gate().isBackingOff(host));
    m_bed->clock->advance(1);
    QVERIFY(!gate().isBackingOff(host));
}

void tst_ServerHTTPClient::oneAttemptWhileUnreachable()
{
    // A port where nobody listens any more refuses the connection.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    m_bed->server.setStanding(ServerTestBed::apiPath(events), ScriptedResponse::silent());
    for (const QString& url : {m_bed->endpoint(events), QStringLiteral("http://localhost:%1/api/brisko/events.php").arg(port)}) {
        QList<PostOutcome> outcomes;
        for (int i = 0; i < 5; ++i) {
            m_bed->client().postJSON(QUrl(url), {}, 300ms, [&outcomes](PostOutcome o) { outcomes.append(o); });
        }
        QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), 5, 20000);
        QCOMPARE(outcomes, QList<PostOutcome>(5, PostOutcome::failed()));
        QVERIFY(gate().isBackingOff(ServerHTTPClient::gateKey(QUrl(url))));
    }
    QCOMPARE(m_bed->server.requests().size(), 1);
}

void tst_ServerHTTPClient::slotsPerHost()
{
    QString started;
    const auto ask = [&](QChar name) { gate().acquireSlot(maker, [&started, name](bool mayPost) { started += mayPost ? name : u'!'; }); };
    // One post finds out whether a host answers at all.
    for (const QChar name : QStringLiteral("abc")) {
        ask(name);
    }
    QCOMPARE(started, QStringLiteral("a"));
    gate().recordAnswered(maker);
    gate().releaseSlot(maker);
    QCOMPARE(started, QStringLiteral("abc"));
    ask(u'd');
    ask(u'e');
    gate().releaseSlot(maker);
    QCOMPARE(started, QStringLiteral("abcd"));
    // A host that stops answering refuses the posts still waiting.
    gate().recordUnreachable(maker);
    QCOMPARE(started, QStringLiteral("abcd!"));
    QVERIFY(gate().abandonUnanswered().isEmpty());
}

void tst_ServerHTTPClient::backoffIsKeptInTheStore()
{
    const auto restart = [this] {
        m_bed->restart();
        gate().persistIn(m_bed->store);
    };
    gate().persistIn(m_bed->store);
    gate().recordUnreachable(QStringLiteral("other.example"));
    // A post still waiting for its first answer when the run ends counts as
    // a failure, the second one in a row here.
    gate().recordUnreachable(maker);
    m_bed->clock->advance(60);
    gate().acquireSlot(maker, [](bool) {});
    QCOMPARE(gate().abandonUnanswered(), QStringList({maker}));

    restart();
    m_bed->clock->advance(119);
    QVERIFY(gate().isBackingOff(maker));
    m_bed->clock->advance(1);
    QVERIFY(!gate().isBackingOff(maker));
    gate().recordAnswered(maker);
    restart();
    m_bed->clock->advance(-180);
    QVERIFY(!gate().isBackingOff(maker));
    QVERIFY(gate().isBackingOff(QStringLiteral("other.example")));
}

void tst_ServerHTTPClient::unusableStoredBackoffs_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("not JSON") << QByteArray("\xff{");
    QTest::newRow("no failures") << QByteArray(R"({"maker.example":{"failures":0,"retryAt":"2026-03-14T06:31:00.000Z"}})");
    QTest::newRow("no time") << QByteArray(R"({"maker.example":{"failures":3}})");
    QTest::newRow("beyond an hour") << QByteArray(R"({"maker.example":{"failures":1,"retryAt":"2026-03-14T08:00:00.000Z"}})");
}

void tst_ServerHTTPClient::unusableStoredBackoffs()
{
    QFETCH(QByteArray, stored);
    QVERIFY(m_bed->store->setData(RateLimitGate::backoffKey, stored));
    gate().persistIn(m_bed->store);
    QVERIFY(!gate().isBackingOff(maker));
}

BRISKO_TEST(tst_ServerHTTPClient)
#include "tst_ServerHTTPClient.moc"
