#include "BriskoTest.h"
#include "FakeClock.h"
#include "LoopbackMakerServer.h"

#include "platform/SettingsDefaultsStore.h"
#include "server/ServerHTTPClient.h"

#include <QTcpServer>
#include <QtTest>

using namespace std::chrono_literals;

// Posting records, the per-host back-off after status 429 and after a host
// that does not answer, and the posts per host, against a real loopback
// server; the back-offs run on a fake clock.
class tst_ServerHTTPClient : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void parseRetryAfter_data();
    void parseRetryAfter();
    void postsCompactJson();
    void statusDecidesTheOutcome_data();
    void statusDecidesTheOutcome();
    void rateLimitBlocksTheWholeHost();
    void blockLength_data();
    void blockLength();
    void failuresWithoutAnAnswer_data();
    void failuresWithoutAnAnswer();
    void backoffDoublesUpToAnHour();
    void oneAttemptWhileUnreachable();
    void slotsPerHost();
    void backoffIsKeptInTheStore();
    void unusableStoredBackoffs_data();
    void unusableStoredBackoffs();

private:
    PostOutcome post(const QString& url, const QJsonObject& body = {{QStringLiteral("event"), QStringLiteral("x")}},
                     std::chrono::milliseconds timeout = 5s);
    QString events() const { return m_server->endpoint(QStringLiteral("events.php")); }

    std::unique_ptr<LoopbackMakerServer> m_server;
    std::unique_ptr<HttpTransport> m_transport;
    std::shared_ptr<FakeClock> m_clock;
    std::shared_ptr<RateLimitGate> m_gate;
    std::unique_ptr<ServerHTTPClient> m_client;
};

void tst_ServerHTTPClient::init()
{
    m_server = std::make_unique<LoopbackMakerServer>();
    QVERIFY(m_server->listen());
    m_transport = std::make_unique<HttpTransport>();
    m_clock = std::make_shared<FakeClock>(QDateTime(QDate(2026, 3, 14), QTime(6, 30), Qt::UTC));
    m_gate = std::make_shared<RateLimitGate>(m_clock);
    m_client = std::make_unique<ServerHTTPClient>(m_transport.get(), m_gate);
}

void tst_ServerHTTPClient::cleanup()
{
    m_client.reset();
    m_transport.reset();
    m_server.reset();
}

PostOutcome tst_ServerHTTPClient::post(const QString& url, const QJsonObject& body, std::chrono::milliseconds timeout)
{
    std::optional<PostOutcome> outcome;
    m_client->postJSON(QUrl(url), body, timeout, [&outcome](PostOutcome o) { outcome = o; });
    [&] { QVERIFY(!outcome); }();
    [&] { QTRY_VERIFY_WITH_TIMEOUT(outcome.has_value(), 20000); }();
    return outcome.value_or(PostOutcome::failed());
}

void tst_ServerHTTPClient::parseRetryAfter_data()
{
    QTest::addColumn<std::optional<QByteArray>>("header");
    QTest::addColumn<double>("seconds");
    QTest::newRow("missing") << std::optional<QByteArray>() << 60.0;
    QTest::newRow("empty") << std::optional<QByteArray>("") << 60.0;
    QTest::newRow("blanks") << std::optional<QByteArray>("  ") << 60.0;
    QTest::newRow("whole seconds") << std::optional<QByteArray>("120") << 120.0;
    QTest::newRow("fraction, padded") << std::optional<QByteArray>(" 2.5 ") << 2.5;
    QTest::newRow("zero") << std::optional<QByteArray>("0") << 1.0;
    QTest::newRow("below one") << std::optional<QByteArray>("0.2") << 1.0;
    QTest::newRow("negative") << std::optional<QByteArray>("-30") << 1.0;
    QTest::newRow("HTTP date") << std::optional<QByteArray>("Wed, 21 Oct 2026 07:28:00 GMT") << 60.0;
    QTest::newRow("words") << std::optional<QByteArray>("soon") << 60.0;
    QTest::newRow("not a number") << std::optional<QByteArray>("nan") << 60.0;
    QTest::newRow("infinite") << std::optional<QByteArray>("inf") << 60.0;
    QTest::newRow("beyond a day") << std::optional<QByteArray>("1e300") << 86400.0;
}

void tst_ServerHTTPClient::parseRetryAfter()
{
    QFETCH(std::optional<QByteArray>, header);
    QFETCH(double, seconds);
    QCOMPARE(ServerHTTPClient::parseRetryAfter(header), seconds);
}

void tst_ServerHTTPClient::postsCompactJson()
{
    const QJsonObject body{{QStringLiteral("event"), QStringLiteral("scan_completed")},
                           {QStringLiteral("metadata"), QJsonObject{{QStringLiteral("папка"), QStringLiteral("Загрузки")}}}};
    QCOMPARE(post(events(), body), PostOutcome::delivered());
    const QList<RecordedRequest> received = m_server->requests(QStringLiteral("/api/brisko/events.php"));
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().method, QByteArray("POST"));
    QCOMPARE(received.first().header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(received.first().body, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

void tst_ServerHTTPClient::statusDecidesTheOutcome_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<PostOutcome>("outcome");
    QTest::newRow("200") << 200 << PostOutcome::delivered();
    QTest::newRow("201") << 201 << PostOutcome::delivered();
    QTest::newRow("299") << 299 << PostOutcome::delivered();
    QTest::newRow("301 without a target") << 301 << PostOutcome::failed();
    QTest::newRow("404") << 404 << PostOutcome::failed();
    QTest::newRow("500") << 500 << PostOutcome::failed();
    QTest::newRow("429 without Retry-After") << 429 << PostOutcome::rateLimited(60);
}

void tst_ServerHTTPClient::statusDecidesTheOutcome()
{
    QFETCH(int, status);
    QFETCH(PostOutcome, outcome);
    // The body is never looked at, even when it is not JSON.
    m_server->enqueue(QStringLiteral("/api/brisko/events.php"), ScriptedResponse::json(status, "<html>"));
    QCOMPARE(post(events()), outcome);
}

void tst_ServerHTTPClient::rateLimitBlocksTheWholeHost()
{
    m_server->enqueue(QStringLiteral("/api/brisko/events.php"),
                      ScriptedResponse::withHeader(429, "Retry-After", "120"));
    QCOMPARE(post(events()), PostOutcome::rateLimited(120));
    QCOMPARE(m_server->requests().size(), 1);

    m_clock->advance(119);
    QCOMPARE(post(events()), PostOutcome::rateLimited(60));
    // Another endpoint on the same host shares the block.
    QCOMPARE(post(m_server->endpoint(QStringLiteral("errors.php"))), PostOutcome::rateLimited(60));
    QCOMPARE(m_server->requests().size(), 1);
    // A host name is its own key, even for the same machine.
    QCOMPARE(post(QStringLiteral("http://localhost:%1/api/brisko/events.php").arg(m_server->port())),
             PostOutcome::delivered());
    QCOMPARE(m_server->requests().size(), 2);

    m_clock->advance(2);
    QCOMPARE(post(events()), PostOutcome::delivered());
    QCOMPARE(m_server->requests().size(), 3);
}

void tst_ServerHTTPClient::blockLength_data()
{
    QTest::addColumn<std::optional<QByteArray>>("retryAfter");
    QTest::addColumn<qint64>("blockedMs");
    QTest::newRow("0 blocks for 1 s") << std::optional<QByteArray>("0") << qint64(1000);
    QTest::newRow("2.5") << std::optional<QByteArray>("2.5") << qint64(2500);
    QTest::newRow("HTTP date blocks for 60 s") << std::optional<QByteArray>("Sun, 06 Dec 2026 10:00:00 GMT")
                                               << qint64(60000);
    QTest::newRow("missing blocks for 60 s") << std::optional<QByteArray>() << qint64(60000);
}

void tst_ServerHTTPClient::blockLength()
{
    QFETCH(std::optional<QByteArray>, retryAfter);
    QFETCH(qint64, blockedMs);
    ScriptedResponse limited = ScriptedResponse::json(429, {});
    if (retryAfter) {
        limited.headers.append({QByteArrayLiteral("Retry-After"), *retryAfter});
    }
    m_server->enqueue(QStringLiteral("/api/brisko/errors.php"), limited);
    QCOMPARE(post(m_server->endpoint(QStringLiteral("errors.php"))).kind, PostOutcome::Kind::rateLimited);
    const QString key = ServerHTTPClient::gateKey(QUrl(events()));
    QCOMPARE(key, QStringLiteral("127.0.0.1"));
    const QDateTime start = m_clock->now();
    m_clock->setNow(start.addMSecs(blockedMs - 100));
    QVERIFY(m_gate->isBlocked(key));
    m_clock->setNow(start.addMSecs(blockedMs + 100));
    QVERIFY(!m_gate->isBlocked(key));
    QCOMPARE(post(events()), PostOutcome::delivered());
}

void tst_ServerHTTPClient::failuresWithoutAnAnswer_data()
{
    QTest::addColumn<ScriptedResponse>("response");
    ScriptedResponse silent;
    silent.ending = ScriptedResponse::Ending::neverAnswer;
    QTest::newRow("silent server") << silent;
    ScriptedResponse late = ScriptedResponse::json(200, {});
    late.delayMs = 3000;
    QTest::newRow("answer after the time-out") << late;
    ScriptedResponse closed;
    closed.ending = ScriptedResponse::Ending::closeAtOnce;
    QTest::newRow("connection closed") << closed;
    ScriptedResponse dripped = ScriptedResponse::json(200, R"({"ok":true})");
    dripped.dripIntervalMs = 1000;
    dripped.declaredLength = ScriptedResponse::unannounced;
    QTest::newRow("status in time, body dripping") << dripped;
    ScriptedResponse endless = ScriptedResponse::json(200, {});
    endless.generatedBodyBytes = qint64(1) << 40;
    endless.declaredLength = ScriptedResponse::unannounced;
    QTest::newRow("status in time, endless body") << endless;
}

void tst_ServerHTTPClient::failuresWithoutAnAnswer()
{
    QFETCH(ScriptedResponse, response);
    m_server->setStanding(QStringLiteral("/api/brisko/events.php"), response);
    const bool statusArrives = response.ending == ScriptedResponse::Ending::answer && response.delayMs == 0;
    QCOMPARE(post(events(), {}, 400ms), statusArrives ? PostOutcome::delivered() : PostOutcome::failed());
    // The body of a post is never read: what the server pushes stays in the socket buffers.
    QVERIFY(m_server->generatedBytesSent() < qint64(64) << 20);
    // Without an answer the host is left alone for a minute; an answer,
    // however slow its body, proves it reachable.
    QCOMPARE(m_gate->isBackingOff(QStringLiteral("127.0.0.1")), !statusArrives);
}

void tst_ServerHTTPClient::backoffDoublesUpToAnHour()
{
    const QString path = QStringLiteral("/api/brisko/events.php");
    ScriptedResponse silent;
    silent.ending = ScriptedResponse::Ending::neverAnswer;
    m_server->setStanding(path, silent);
    const QString host = QStringLiteral("127.0.0.1");
    for (const qint64 seconds : {60, 120, 240, 480, 960, 1920, 3600, 3600}) {
        const qsizetype before = m_server->count(path);
        QCOMPARE(post(events(), {}, 200ms), PostOutcome::failed());
        QCOMPARE(m_server->count(path), before + 1);
        m_clock->advance(seconds - 1);
        // Every endpoint of the host waits, without a request.
        QCOMPARE(post(m_server->endpoint(QStringLiteral("errors.php"))), PostOutcome::failed());
        QCOMPARE(m_server->requests().size(), before + 1);
        m_clock->advance(1);
        QVERIFY(!m_gate->isBackingOff(host));
    }
    // The first answer ends it; the next failure starts again at a minute.
    m_server->clearStanding(path);
    QCOMPARE(post(events()), PostOutcome::delivered());
    m_server->setStanding(path, silent);
    QCOMPARE(post(events(), {}, 200ms), PostOutcome::failed());
    m_clock->advance(60);
    QVERIFY(!m_gate->isBackingOff(host));
}

void tst_ServerHTTPClient::oneAttemptWhileUnreachable()
{
    // A port where nobody listens any more refuses the connection.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    ScriptedResponse silent;
    silent.ending = ScriptedResponse::Ending::neverAnswer;
    m_server->setStanding(QStringLiteral("/api/brisko/events.php"), silent);
    const QStringList urls{events(), QStringLiteral("http://localhost:%1/api/brisko/events.php").arg(port)};
    for (const QString& url : urls) {
        std::vector<std::optional<PostOutcome>> outcomes(5);
        for (std::optional<PostOutcome>& outcome : outcomes) {
            m_client->postJSON(QUrl(url), {}, 300ms, [&outcome](PostOutcome o) { outcome = o; });
        }
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(outcomes.begin(), outcomes.end(), [](const auto& o) { return o.has_value(); }),
                                 20000);
        for (const std::optional<PostOutcome>& outcome : outcomes) {
            QCOMPARE(*outcome, PostOutcome::failed());
        }
        QVERIFY(m_gate->isBackingOff(ServerHTTPClient::gateKey(QUrl(url))));
    }
    QCOMPARE(m_server->requests().size(), 1);
}

void tst_ServerHTTPClient::slotsPerHost()
{
    const QString host = QStringLiteral("maker.example");
    QStringList started;
    const auto ask = [&](const QString& name) {
        m_gate->acquireSlot(host, [&started, name](bool mayPost) { started.append(mayPost ? name : name + QLatin1Char('!')); });
    };
    // One post finds out whether a host answers at all.
    ask(QStringLiteral("a"));
    ask(QStringLiteral("b"));
    ask(QStringLiteral("c"));
    QCOMPARE(started, QStringList({QStringLiteral("a")}));
    m_gate->recordAnswered(host);
    m_gate->releaseSlot(host);
    QCOMPARE(started, QStringList({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    ask(QStringLiteral("d"));
    ask(QStringLiteral("e"));
    m_gate->releaseSlot(host);
    QCOMPARE(started.last(), QStringLiteral("d"));
    // A host that stops answering refuses the posts still waiting.
    m_gate->recordUnreachable(host);
    QCOMPARE(started.last(), QStringLiteral("e!"));
    QVERIFY(m_gate->abandonUnanswered().isEmpty());
}

void tst_ServerHTTPClient::backoffIsKeptInTheStore()
{
    QTemporaryDir dir;
    const DefaultsStorePtr store =
        std::make_shared<SettingsDefaultsStore>(dir.filePath(QStringLiteral("defaults.ini")), QSettings::IniFormat);
    const QString host = QStringLiteral("maker.example");
    m_gate->persistIn(store);
    m_gate->recordUnreachable(QStringLiteral("other.example"));
    // A post still waiting for its first answer when the run ends counts as
    // a failure, the second one in a row here.
    m_gate->recordUnreachable(host);
    m_clock->advance(60);
    m_gate->acquireSlot(host, [](bool) {});
    QCOMPARE(m_gate->abandonUnanswered(), QStringList({host}));

    auto nextRun = std::make_shared<RateLimitGate>(m_clock);
    nextRun->persistIn(store);
    m_clock->advance(119);
    QVERIFY(nextRun->isBackingOff(host));
    m_clock->advance(1);
    QVERIFY(!nextRun->isBackingOff(host));
    nextRun->recordAnswered(host);
    auto third = std::make_shared<RateLimitGate>(m_clock);
    third->persistIn(store);
    m_clock->setNow(m_clock->now().addSecs(-180));
    QVERIFY(!third->isBackingOff(host));
    QVERIFY(third->isBackingOff(QStringLiteral("other.example")));
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
    QTemporaryDir dir;
    const DefaultsStorePtr store =
        std::make_shared<SettingsDefaultsStore>(dir.filePath(QStringLiteral("defaults.ini")), QSettings::IniFormat);
    QVERIFY(store->setData(RateLimitGate::backoffKey, stored));
    m_gate->persistIn(store);
    QVERIFY(!m_gate->isBackingOff(QStringLiteral("maker.example")));
}

BRISKO_TEST(tst_ServerHTTPClient)
#include "tst_ServerHTTPClient.moc"
