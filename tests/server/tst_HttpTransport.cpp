#include "BriskoTest.h"
#include "LoopbackMakerServer.h"

#include "server/HttpTransport.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QtTest>

using namespace std::chrono_literals;

// The limits every server feature relies on, against a real loopback server
// that misbehaves on purpose.
class tst_HttpTransport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void getReadsTheWholeAnswer();
    void oversizedBodiesAreAbandoned_data();
    void oversizedBodiesAreAbandoned();
    void slowDripEndsAtTheDeadline();
    void silentServerEndsAtTheDeadline();
    void truncatedBodyIsIncomplete();
    void refusedConnectionIsATransportError();
    void statusOnlyDoesNotWaitForTheBody();
    void redirectsStayOnTheSameHost();
    void onlyHttpAddressesAreRequested_data();
    void onlyHttpAddressesAreRequested();
    void offlineSendsNothing();

private:
    HttpResponse run(HttpTransport& transport, const HttpRequest& request, qint64* elapsedMs = nullptr);
    HttpRequest get(const QString& path) const;

    std::unique_ptr<LoopbackMakerServer> m_server;
    std::unique_ptr<HttpTransport> m_transport;
};

void tst_HttpTransport::init()
{
    m_server = std::make_unique<LoopbackMakerServer>();
    QVERIFY(m_server->listen());
    m_transport = std::make_unique<HttpTransport>();
}

void tst_HttpTransport::cleanup()
{
    m_transport.reset();
    m_server.reset();
}

HttpRequest tst_HttpTransport::get(const QString& path) const
{
    HttpRequest request;
    request.url = QUrl(m_server->url(path));
    request.timeout = 5s;
    return request;
}

HttpResponse tst_HttpTransport::run(HttpTransport& transport, const HttpRequest& request, qint64* elapsedMs)
{
    std::optional<HttpResponse> response;
    int calls = 0;
    QElapsedTimer timer;
    timer.start();
    transport.send(request, [&](const HttpResponse& r) {
        response = r;
        ++calls;
    });
    // Never inside send, so that callers may hold locks or iterate.
    [&] { QVERIFY(!response); }();
    [&] { QTRY_VERIFY_WITH_TIMEOUT(response.has_value(), 20000); }();
    if (elapsedMs) {
        *elapsedMs = timer.elapsed();
    }
    QTest::qWait(0);
    [&] { QCOMPARE(calls, 1); }();
    return response.value_or(HttpResponse());
}

void tst_HttpTransport::getReadsTheWholeAnswer()
{
    const QByteArray body = QStringLiteral("{\"текст\":\"Привет\"}").toUtf8();
    m_server->enqueue(QStringLiteral("/x"), ScriptedResponse::json(203, body));
    HttpRequest request = get(QStringLiteral("/x"));
    request.headers.append({QByteArrayLiteral("X-Client-Region"), QByteArrayLiteral("RU")});
    const HttpResponse response = run(*m_transport, request);
    QVERIFY(response.isHttp);
    QCOMPARE(response.status, 203);
    QCOMPARE(response.body, body);
    QVERIFY(response.hasCompleteBody());
    QCOMPARE(response.header("content-type"), QByteArray("application/json; charset=utf-8"));
    QCOMPARE(m_server->requests().size(), 1);
    QCOMPARE(m_server->requests().first().method, QByteArray("GET"));
    QCOMPARE(m_server->requests().first().header("x-client-region"), QByteArray("RU"));
}

void tst_HttpTransport::oversizedBodiesAreAbandoned_data()
{
    QTest::addColumn<qint64>("declaredLength");
    QTest::newRow("announced") << ScriptedResponse::realLength;
    QTest::newRow("unannounced, read as it comes") << ScriptedResponse::unannounced;
}

void tst_HttpTransport::oversizedBodiesAreAbandoned()
{
    QFETCH(qint64, declaredLength);
    constexpr qint64 tenMiB = 10 << 20;
    ScriptedResponse huge;
    huge.generatedBodyBytes = tenMiB;
    huge.declaredLength = declaredLength;
    m_server->enqueue(QStringLiteral("/big"), huge);
    HttpRequest request = get(QStringLiteral("/big"));
    request.maxBodyBytes = 1 << 20;
    const HttpResponse response = run(*m_transport, request);
    QVERIFY(response.isHttp);
    QCOMPARE(response.status, 200);
    QVERIFY(response.bodyTooLarge);
    QVERIFY(response.body.isEmpty());
    QVERIFY(!response.hasCompleteBody());
    // The client stopped reading: the server could not hand over the rest.
    QTRY_VERIFY(m_server->generatedBytesSent() < tenMiB);
}

void tst_HttpTransport::slowDripEndsAtTheDeadline()
{
    ScriptedResponse slow = ScriptedResponse::json(200, "{\"country_code\":\"RU\"}");
    slow.dripIntervalMs = 1000;
    m_server->enqueue(QStringLiteral("/slow"), slow);
    HttpRequest request = get(QStringLiteral("/slow"));
    request.timeout = 1500ms;
    qint64 elapsed = 0;
    const HttpResponse response = run(*m_transport, request, &elapsed);
    QVERIFY(response.timedOut);
    QVERIFY(response.isHttp);
    QVERIFY(response.bodyIncomplete);
    QVERIFY(response.body.isEmpty());
    QVERIFY2(elapsed >= 1400 && elapsed < 6000, QByteArray::number(elapsed));
}

void tst_HttpTransport::silentServerEndsAtTheDeadline()
{
    ScriptedResponse silent;
    silent.ending = ScriptedResponse::Ending::neverAnswer;
    m_server->enqueue(QStringLiteral("/silent"), silent);
    HttpRequest request = get(QStringLiteral("/silent"));
    request.timeout = 300ms;
    qint64 elapsed = 0;
    const HttpResponse response = run(*m_transport, request, &elapsed);
    QVERIFY(response.timedOut);
    QVERIFY(!response.isHttp);
    QCOMPARE(response.errorText, QStringLiteral("сервер не ответил вовремя"));
    QVERIFY2(elapsed < 5000, QByteArray::number(elapsed));
}

void tst_HttpTransport::truncatedBodyIsIncomplete()
{
    ScriptedResponse cut = ScriptedResponse::json(200, "{\"ok\":tr");
    cut.declaredLength = 100;
    m_server->enqueue(QStringLiteral("/cut"), cut);
    const HttpResponse response = run(*m_transport, get(QStringLiteral("/cut")));
    QVERIFY(response.isHttp);
    QVERIFY(response.bodyIncomplete);
    QVERIFY(response.body.isEmpty());

    ScriptedResponse closed;
    closed.ending = ScriptedResponse::Ending::closeAtOnce;
    // The loader tries a closed connection once more by itself.
    m_server->setStanding(QStringLiteral("/closed"), closed);
    const HttpResponse none = run(*m_transport, get(QStringLiteral("/closed")));
    QVERIFY(!none.isHttp);
    QVERIFY(!none.errorText.isEmpty());
}

void tst_HttpTransport::refusedConnectionIsATransportError()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    HttpRequest request;
    request.url = QUrl(QStringLiteral("http://127.0.0.1:%1/api/brisko/region.php").arg(port));
    const HttpResponse response = run(*m_transport, request);
    QVERIFY(!response.isHttp);
    QCOMPARE(response.errorText, QStringLiteral("сервер отклонил соединение"));
}

void tst_HttpTransport::statusOnlyDoesNotWaitForTheBody()
{
    ScriptedResponse slow = ScriptedResponse::json(200, QByteArray(50, ' '));
    slow.dripIntervalMs = 1000;
    m_server->enqueue(QStringLiteral("/post"), slow);
    HttpRequest request = get(QStringLiteral("/post"));
    request.method = HttpRequest::Method::post;
    request.body = "{}";
    request.headers.append({QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json")});
    request.statusOnly = true;
    qint64 elapsed = 0;
    const HttpResponse response = run(*m_transport, request, &elapsed);
    QVERIFY(response.isSuccess());
    QVERIFY(!response.timedOut);
    QVERIFY2(elapsed < 4000, QByteArray::number(elapsed));
    QCOMPARE(m_server->requests().first().body, QByteArray("{}"));
}

void tst_HttpTransport::redirectsStayOnTheSameHost()
{
    m_server->enqueue(QStringLiteral("/moved"),
                      ScriptedResponse::withHeader(302, "Location", m_server->url(QStringLiteral("/here")).toUtf8()));
    m_server->enqueue(QStringLiteral("/here"), ScriptedResponse::json(200, "{\"ok\":true}"));
    const HttpResponse followed = run(*m_transport, get(QStringLiteral("/moved")));
    QCOMPARE(followed.status, 200);
    QCOMPARE(followed.body, QByteArray("{\"ok\":true}"));
    QCOMPARE(m_server->count(QStringLiteral("/here")), 1);

    // "localhost" is the same server under another host name: the count
    // shows that the redirect was not followed.
    const QByteArray elsewhere = QStringLiteral("http://localhost:%1/there").arg(m_server->port()).toUtf8();
    m_server->enqueue(QStringLiteral("/away"), ScriptedResponse::withHeader(302, "Location", elsewhere));
    const HttpResponse refused = run(*m_transport, get(QStringLiteral("/away")));
    QVERIFY(refused.isHttp);
    QCOMPARE(refused.status, 302);
    QVERIFY(!refused.isSuccess());
    QCOMPARE(m_server->count(QStringLiteral("/there")), 0);

    const QByteArray otherScheme = QStringLiteral("https://127.0.0.1:%1/there").arg(m_server->port()).toUtf8();
    m_server->enqueue(QStringLiteral("/tls"), ScriptedResponse::withHeader(301, "Location", otherScheme));
    QCOMPARE(run(*m_transport, get(QStringLiteral("/tls"))).status, 301);
}

void tst_HttpTransport::onlyHttpAddressesAreRequested_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("local file") << "file:///etc/passwd";
    QTest::newRow("data") << "data:text/plain,hello";
    QTest::newRow("no host") << "http:///api/brisko/region.php";
    QTest::newRow("empty") << "";
    QTest::newRow("words") << "not a url";
}

void tst_HttpTransport::onlyHttpAddressesAreRequested()
{
    QFETCH(QString, url);
    QVERIFY(!HttpTransport::serverUrl(url).isValid());
    HttpRequest request;
    request.url = QUrl(url);
    const HttpResponse response = run(*m_transport, request);
    QVERIFY(!response.isHttp);
    QCOMPARE(response.errorText, QStringLiteral("неверный адрес сервера"));
    QVERIFY(HttpTransport::serverUrl(m_server->url(QStringLiteral("/x"))).isValid());
}

void tst_HttpTransport::offlineSendsNothing()
{
    m_transport->setOffline(true);
    const HttpResponse response = run(*m_transport, get(QStringLiteral("/api/brisko/region.php")));
    QVERIFY(!response.isHttp);
    QCOMPARE(response.errorText, QStringLiteral("включён режим без сети"));
    QCOMPARE(m_server->requests().size(), 0);
}

BRISKO_TEST(tst_HttpTransport)
#include "tst_HttpTransport.moc"
