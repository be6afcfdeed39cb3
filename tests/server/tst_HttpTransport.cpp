#include "BriskoTest.h"
#include "ServerTestCase.h"

#include <QTcpServer>
#include <QtTest>

using namespace std::chrono_literals;

// The limits every server feature relies on, against a real loopback server
// that misbehaves on purpose.
class tst_HttpTransport : public ServerTestCase
{
    Q_OBJECT

private Q_SLOTS:
    void getReadsTheWholeAnswer();
    void hostileAnswers_data();
    void hostileAnswers();
    void requestsThatReachNoServer_data();
    void requestsThatReachNoServer();
    void redirectsStayOnTheSameHost_data();
    void redirectsStayOnTheSameHost();

private:
    HttpResponse run(const HttpRequest& request);
    HttpRequest get(const QString& path, std::chrono::milliseconds timeout = 20s) const
    {
        HttpRequest request;
        request.url = QUrl(m_bed->server.url(path));
        request.timeout = timeout;
        return request;
    }
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

void tst_HttpTransport::getReadsTheWholeAnswer()
{
    const QByteArray body = QStringLiteral("{\"текст\":\"Привет\"}").toUtf8();
    m_bed->server.enqueue(QStringLiteral("/x"), ScriptedResponse::json(203, body));
    HttpRequest request = get(QStringLiteral("/x"));
    request.headers.append({QByteArrayLiteral("X-Client-Region"), QByteArrayLiteral("RU")});
    const HttpResponse response = run(request);
    QVERIFY(response.isHttp);
    QCOMPARE(response.status, 203);
    QCOMPARE(response.body, body);
    QVERIFY(response.hasCompleteBody());
    QCOMPARE(response.header("content-type"), QByteArray("application/json; charset=utf-8"));
    QCOMPARE(m_bed->server.requests().size(), 1);
    QCOMPARE(m_bed->server.requests().first().method, QByteArray("GET"));
    QCOMPARE(m_bed->server.requests().first().header("x-client-region"), QByteArray("RU"));
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
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    if (url.contains(QLatin1String("%1"))) {
        url = url.arg(port);
    }
    QCOMPARE(HttpTransport::serverUrl(url).isValid(), errorText != QStringLiteral("неверный адрес сервера"));
    m_bed->transport.setOffline(offline);
    HttpRequest request;
    request.url = QUrl(url);
    const HttpResponse response = run(request);
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

BRISKO_TEST(tst_HttpTransport)
#include "tst_HttpTransport.moc"
