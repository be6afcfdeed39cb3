#include "BriskoTest.h"
#include "ServerTestCase.h"

#include <QTcpServer>
#include <QtTest>

using namespace std::chrono_literals;

// The limits every server feature relies on, against a real loopback server
// that misbehaves on purpose; then the client on top: posting records, the
// per-host back-off after status 429 and after a host that does not answer,
// and the posts per host, the back-offs on a fake clock.
class tst_HttpTransport : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void hostileAnswers_data();
    void hostileAnswers();
    void requestsThatReachNoServer_data();
    void requestsThatReachNoServer();
    void redirectsStayOnTheSameHost_data();
    void redirectsStayOnTheSameHost();
    void parseRetryAfter_data();
    void parseRetryAfter();
    void outcomes_data();
    void outcomes();
    void rateLimitBlocksTheWholeHost();
    void backoffDoublesUpToAnHour();
    void oneAttemptWhileUnreachable();
    void slotsPerHost();
    void backoffIsKeptInTheStore();
    void unusableStoredBackoffs_data();
    void unusableStoredBackoffs();
    void storedRetryTimes_data();
    void storedRetryTimes();

private:
    HttpResponse run(const HttpRequest& request);
    HttpRequest get(const QString& path, std::chrono::milliseconds timeout = 20s) const
    {
        return {.url = QUrl(m_bed->server.url(path)), .timeout = timeout};
    }
    static quint16 closedPort()
    {
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost);
        return closed.serverPort();
    }
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

HttpResponse tst_HttpTransport::run(const HttpRequest& request)
{
    std::optional<HttpResponse> response;
    int calls = 0;
    m_bed->transport.send(request, [&](const HttpResponse& r) {
        response = r;
        ++calls;
    });
    // Never inside send, so that callers may hold locks or iterate.
    [&] { QVERIFY(!response); }();
    [&] { QTRY_VERIFY_WITH_TIMEOUT(response.has_value(), 20000); }();
    // A second completion would come from events still queued.
    QCoreApplication::processEvents();
    [&] { QCOMPARE(calls, 1); }();
    return response.value_or(HttpResponse());
}

void tst_HttpTransport::hostileAnswers_data()
{
    QTest::addColumn<ScriptedResponse>("response");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<bool>("isHttp");
    QTest::addColumn<bool>("timedOut");
    QTest::addColumn<bool>("tooLarge");
    QTest::addColumn<QString>("errorText"); // null: any but empty; for answers without HTTP only

    constexpr qint64 tenMiB = 10 << 20;
    QTest::newRow("one byte a second") << ScriptedResponse::dripping(R"({"country_code":"RU"})") << 800 << true << true
                                       << false << QString();
    QTest::newRow("silent") << ScriptedResponse::silent() << 300 << false << true << false
                            << "сервер не ответил вовремя";
    ScriptedResponse cut = ScriptedResponse::json(200, "{\"ok\":tr");
    cut.declaredLength = 100;
    QTest::newRow("closed in the middle of the body") << cut << 20000 << true << false << false << QString();
    // The loader tries a closed connection once more by itself.
    QTest::newRow("closed before the answer") << ScriptedResponse::closed() << 20000 << false << false << false
                                              << QString();
    QTest::newRow("10 MiB announced") << ScriptedResponse::generated(tenMiB) << 20000 << true << false << true
                                      << QString();
    QTest::newRow("endless, unannounced") << ScriptedResponse::generated(qint64(1) << 40, ScriptedResponse::unannounced)
                                          << 20000 << true << false << true << QString();
}

void tst_HttpTransport::hostileAnswers()
{
    QFETCH(ScriptedResponse, response);
    QFETCH(int, timeoutMs);
    QFETCH(bool, isHttp);
    QFETCH(bool, timedOut);
    QFETCH(bool, tooLarge);
    QFETCH(QString, errorText);
    m_bed->server.setStanding(QStringLiteral("/x"), response);
    HttpRequest request = get(QStringLiteral("/x"), std::chrono::milliseconds(timeoutMs));
    request.maxBodyBytes = 1 << 20;
    const HttpResponse answer = run(request);
    QCOMPARE(answer.isHttp, isHttp);
    QCOMPARE(answer.timedOut, timedOut);
    QCOMPARE(answer.bodyTooLarge, tooLarge);
    QVERIFY(!answer.hasCompleteBody());
    QVERIFY(answer.body.isEmpty());
    if (isHttp) {
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.bodyIncomplete, !tooLarge);
    } else if (errorText.isNull()) {
        QVERIFY(!answer.errorText.isEmpty());
    } else {
        QCOMPARE(answer.errorText, errorText);
    }
    // The client stopped reading: the server could not hand over the rest.
    if (response.generatedBodyBytes > 0) {
        QTRY_VERIFY(m_bed->server.generatedBytesSent() < std::min(response.generatedBodyBytes, qint64(64) << 20));
    }
}

void tst_HttpTransport::requestsThatReachNoServer_data()
{
    QTest::addColumn<QString>("url"); // %1: a port where nobody listens
    QTest::addColumn<bool>("offline");
    QTest::addColumn<QString>("errorText");
    QTest::newRow("refused") << "http://127.0.0.1:%1/api/brisko/region.php" << false << "сервер отклонил соединение";
    QTest::newRow("offline") << "http://127.0.0.1:%1/api/brisko/region.php" << true << "включён режим без сети";
    const QString bad = QStringLiteral("неверный адрес сервера");
    QTest::newRow("local file") << "file:///etc/passwd" << false << bad;
    QTest::newRow("data") << "data:text/plain,hello" << false << bad;
    QTest::newRow("no host") << "http:///api/brisko/region.php" << false << bad;
    QTest::newRow("empty") << "" << false << bad;
    QTest::newRow("words") << "not a url" << false << bad;
}

void tst_HttpTransport::requestsThatReachNoServer()
{
    QFETCH(QString, url);
    QFETCH(bool, offline);
    QFETCH(QString, errorText);
    if (url.contains(QLatin1String("%1"))) {
        url = url.arg(closedPort());
    }
    QCOMPARE(HttpTransport::serverUrl(url).isValid(), errorText != QStringLiteral("неверный адрес сервера"));
    m_bed->transport.setOffline(offline);
    const HttpResponse response = run({.url = QUrl(url)});
    QVERIFY(!response.isHttp);
    QCOMPARE(response.errorText, errorText);
}

void tst_HttpTransport::redirectsStayOnTheSameHost_data()
{
    QTest::addColumn<QString>("location"); // %1: the server's port
    QTest::addColumn<int>("status");
    QTest::newRow("same host") << "http://127.0.0.1:%1/there" << 200;
    // "localhost" is the same server under another host name: the count
    // shows that the redirect was not followed.
    QTest::newRow("another host name") << "http://localhost:%1/there" << 302;
    QTest::newRow("another scheme") << "https://127.0.0.1:%1/there" << 302;
}

void tst_HttpTransport::redirectsStayOnTheSameHost()
{
    QFETCH(QString, location);
    QFETCH(int, status);
    LoopbackMakerServer& server = m_bed->server;
    server.enqueue(QStringLiteral("/moved"), ScriptedResponse::withHeader(302, "Location", location.arg(server.port()).toUtf8()));
    server.enqueue(QStringLiteral("/there"), ScriptedResponse::json(200, "{\"ok\":true}"));
    const HttpResponse response = run(get(QStringLiteral("/moved")));
    QVERIFY(response.isHttp);
    QCOMPARE(response.status, status);
    QCOMPARE(response.isSuccess(), status == 200);
    QCOMPARE(response.body, status == 200 ? QByteArray("{\"ok\":true}") : QByteArray());
    QCOMPARE(server.count(QStringLiteral("/there")), status == 200 ? 1 : 0);
}

void tst_HttpTransport::parseRetryAfter_data()
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

void tst_HttpTransport::parseRetryAfter()
{
    QFETCH(QByteArray, header);
    QFETCH(double, seconds);
    QCOMPARE(ServerHTTPClient::parseRetryAfter(header.isNull() ? std::nullopt : std::optional(header)), seconds);
}

// The body is never looked at, even when it is not JSON. Without an answer
// the host is left alone for a minute; an answer of any kind, however slow
// its body, proves it reachable. A post with a status is done at once, long
// before its time limit (timeout 0: ten minutes).
void tst_HttpTransport::outcomes_data()
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

void tst_HttpTransport::outcomes()
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

void tst_HttpTransport::rateLimitBlocksTheWholeHost()
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

void tst_HttpTransport::backoffDoublesUpToAnHour()
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

void tst_HttpTransport::oneAttemptWhileUnreachable()
{
    // A port where nobody listens any more refuses the connection.
    const quint16 port = closedPort();
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

void tst_HttpTransport::slotsPerHost()
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

void tst_HttpTransport::backoffIsKeptInTheStore()
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

void tst_HttpTransport::unusableStoredBackoffs_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("not JSON") << QByteArray("\xff{");
    QTest::newRow("no failures") << QByteArray(R"({"maker.example":{"failures":0,"retryAt":"2026-03-14T06:31:00.000Z"}})");
    QTest::newRow("no time") << QByteArray(R"({"maker.example":{"failures":3}})");
    QTest::newRow("beyond an hour") << QByteArray(R"({"maker.example":{"failures":1,"retryAt":"2026-03-14T08:00:00.000Z"}})");
}

void tst_HttpTransport::unusableStoredBackoffs()
{
    QFETCH(QByteArray, stored);
    QVERIFY(m_bed->store->setData(RateLimitGate::backoffKey, stored));
    gate().persistIn(m_bed->store);
    QVERIFY(!gate().isBackingOff(maker));
}

// The time of retry is read to the millisecond in the form the gate writes,
// and in any other ISO 8601 form someone may have left.
void tst_HttpTransport::storedRetryTimes_data()
{
    QTest::addColumn<QString>("retryAt");
    QTest::addColumn<int>("lastSecondHeld");
    QTest::newRow("as written") << QStringLiteral("2026-03-14T06:31:00.500Z") << 45;
    QTest::newRow("on the second") << QStringLiteral("2026-03-14T06:31:00.000Z") << 44;
    QTest::newRow("without milliseconds") << QStringLiteral("2026-03-14T06:31:00Z") << 44;
    QTest::newRow("with an offset") << QStringLiteral("2026-03-14T08:31:00.500+02:00") << 45;
    QTest::newRow("no such day") << QStringLiteral("2026-02-30T06:31:00.500Z") << -1;
    QTest::newRow("something after it") << QStringLiteral("2026-03-14T06:31:00.500Zs") << -1;
}

void tst_HttpTransport::storedRetryTimes()
{
    QFETCH(QString, retryAt);
    QFETCH(int, lastSecondHeld);
    m_bed->clock->setNow(QDateTime(QDate(2026, 3, 14), QTime(6, 30, 15), Qt::UTC));
    const QJsonObject entry{{QStringLiteral("failures"), 1}, {QStringLiteral("retryAt"), retryAt}};
    QVERIFY(m_bed->store->setData(RateLimitGate::backoffKey,
                                  QJsonDocument(QJsonObject{{maker, entry}}).toJson(QJsonDocument::Compact)));
    gate().persistIn(m_bed->store);
    QCOMPARE(gate().isBackingOff(maker), lastSecondHeld >= 0);
    if (lastSecondHeld >= 0) {
        m_bed->clock->advance(lastSecondHeld);
        QVERIFY(gate().isBackingOff(maker));
        m_bed->clock->advance(1);
        QVERIFY(!gate().isBackingOff(maker));
    }
}

BRISKO_TEST(tst_HttpTransport)
#include "tst_HttpTransport.moc"
