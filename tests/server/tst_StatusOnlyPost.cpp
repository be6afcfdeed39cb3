#include "BriskoTest.h"

#include "server/HttpTransport.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <atomic>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

// Posts that want only their status, against a peer that answers with exactly
// the bytes a row gives (one answer per connection) and records what it got.
class tst_StatusOnlyPost : public QObject
{
    Q_OBJECT

    QTcpServer m_peer;
    QList<QByteArray> m_answers;
    QList<QByteArray> m_received;
    HttpTransport m_transport;
    const QByteArray body = "{\"event\":\"скан\"}";

    void answer(QTcpSocket* socket)
    {
        m_received.last() += socket->readAll();
        if (!m_received.last().contains("\r\n\r\n") || m_answers.isEmpty()) {
            return;
        }
        const QByteArray reply = m_answers.takeFirst();
        if (reply.endsWith("|close")) {
            socket->write(reply.chopped(6));
            socket->disconnectFromHost();
        } else {
            socket->write(reply);
        }
    }

    HttpResponse post(const QString& path, std::chrono::milliseconds timeout = 20s)
    {
        HttpRequest request;
        request.method = HttpRequest::Method::post;
        request.statusOnly = true;
        request.url = QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_peer.serverPort()).arg(path));
        request.headers = {{"Content-Type", "application/json"}};
        request.body = body;
        request.timeout = timeout;
        std::optional<HttpResponse> response;
        m_transport.send(request, [&response](const HttpResponse& r) { response = r; });
        [&] { QTRY_VERIFY_WITH_TIMEOUT(response.has_value(), 20000); }();
        return response.value_or(HttpResponse());
    }

private Q_SLOTS:
    void init()
    {
        m_answers.clear();
        m_received.clear();
        QVERIFY(m_peer.listen(QHostAddress::LocalHost));
        connect(&m_peer, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_peer.nextPendingConnection()) {
                m_received.append(QByteArray());
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
            }
        });
    }
    void cleanup() { m_peer.close(); m_peer.disconnect(this); }

    void answers_data()
    {
        QTest::addColumn<QList<QByteArray>>("answers");
        QTest::addColumn<int>("status"); // 0: no HTTP answer
        QTest::addColumn<int>("connections");
        const QByteArray moved = "HTTP/1.1 307 Temporary Redirect\r\nLocation: %1\r\n\r\n";
        QTest::newRow("status") << QList<QByteArray>{"HTTP/1.1 204 No Content\r\nX-Id: 7\r\n\r\n"} << 204 << 1;
        QTest::newRow("interim answer first")
            << QList<QByteArray>{"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.0 201 Created\r\n\r\n"} << 201 << 1;
        QTest::newRow("not HTTP") << QList<QByteArray>{"SSH-2.0-OpenSSH\r\n\r\n"} << 0 << 1;
        QTest::newRow("status not a number") << QList<QByteArray>{"HTTP/1.1 2x0 OK\r\n\r\n"} << 0 << 1;
        QTest::newRow("head without end") << QList<QByteArray>{"HTTP/1.1 200 OK\r\nX: " + QByteArray(70000, 'h')}
                                          << 0 << 1;
        QTest::newRow("closed in the status line") << QList<QByteArray>{"HTTP/1.1 2|close"} << 0 << 1;
        QTest::newRow("redirect on the same host")
            << QList<QByteArray>{moved, "HTTP/1.1 202 Accepted\r\n\r\n"} << 202 << 2;
        // "localhost" is the same peer under another host name.
        QTest::newRow("redirect to another host")
            << QList<QByteArray>{QByteArray(moved).replace("%1", "%2"), "HTTP/1.1 202 Accepted\r\n\r\n"} << 307 << 1;
    }
    void answers()
    {
        QFETCH(QList<QByteArray>, answers);
        QFETCH(int, status);
        QFETCH(int, connections);
        for (QByteArray& answer : answers) {
            for (const char* host : {"127.0.0.1", "localhost"}) {
                const QString target = QStringLiteral("http://%1:%2/there?n=2").arg(QLatin1String(host));
                answer.replace(host[0] == '1' ? "%1" : "%2", target.arg(m_peer.serverPort()).toUtf8());
            }
        }
        m_answers = answers;
        const HttpResponse response = post(QStringLiteral("/api/events.php?v=1"));
        QCOMPARE(response.isHttp, status != 0);
        QCOMPARE(response.status, status);
        QCOMPARE(response.errorText.isEmpty(), status != 0);
        QCOMPARE(m_received.size(), connections);
        // Every connection carried the whole post, the redirected one too.
        for (const QByteArray& request : m_received) {
            QVERIFY2(request.startsWith("POST /api/events.php?v=1 HTTP/1.1\r\n")
                         || request.startsWith("POST /there?n=2 HTTP/1.1\r\n"), request.constData());
            QVERIFY(request.contains(QStringLiteral("\r\nHost: 127.0.0.1:%1\r\n").arg(m_peer.serverPort()).toUtf8()));
            const QByteArray ending = "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
            QVERIFY(request.endsWith(ending + "Connection: close\r\n\r\n" + body));
        }
    }

    // A peer on a thread of its own sends an endless body as fast as the
    // connection takes it. Each post gets its status and cuts the connection;
    // the platform loader instead kept draining the first answer on its
    // network thread, and the next posts waited behind it.
    void anEndlessBodyIsCutOff()
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(listener, 8) == 0);
        QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0);
        constexpr int posts = 3;
        std::atomic<int> cut{0};
        std::atomic<int> current{-1};
        std::thread peer([listener, &cut, &current] {
            const QByteArray flood(1 << 16, 'x');
            for (int i = 0; i < posts; ++i) {
                const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (connection < 0) {
                    return;
                }
                current = connection;
                QByteArray request(4096, 0);
                while (::recv(connection, request.data(), request.size(), 0) > 0 && !request.contains("\r\n\r\n")) {
                }
                const QByteArray head = "HTTP/1.1 200 OK\r\n\r\n";
                ::send(connection, head.constData(), head.size(), MSG_NOSIGNAL);
                while (::send(connection, flood.constData(), flood.size(), MSG_NOSIGNAL) > 0) {
                }
                current = -1;
                ::close(connection);
                ++cut;
            }
        });
        // A failed check leaves the peer blocked in accept or send: both are woken.
        const auto stopPeer = qScopeGuard([&] {
            ::shutdown(listener, SHUT_RDWR);
            if (const int connection = current; connection >= 0) {
                ::shutdown(connection, SHUT_RDWR);
            }
            peer.join();
            ::close(listener);
        });
        for (int i = 0; i < posts; ++i) {
            HttpRequest request;
            request.method = HttpRequest::Method::post;
            request.statusOnly = true;
            request.url = QUrl(QStringLiteral("http://127.0.0.1:%1/events").arg(ntohs(address.sin_port)));
            std::optional<HttpResponse> response;
            m_transport.send(request, [&response](const HttpResponse& r) { response = r; });
            QTRY_VERIFY_WITH_TIMEOUT(response.has_value(), 20000);
            QCOMPARE(response->status, 200);
            QTRY_COMPARE_WITH_TIMEOUT(cut.load(), i + 1, 20000);
        }
    }

    void failures_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QString>("errorText");
        QTest::addColumn<bool>("timedOut");
        QTest::newRow("refused") << false << "сервер отклонил соединение" << false;
        QTest::newRow("silent") << true << "сервер не ответил вовремя" << true;
    }
    void failures()
    {
        QFETCH(bool, listening);
        QFETCH(QString, errorText);
        QFETCH(bool, timedOut);
        if (!listening) {
            m_peer.close();
        }
        const HttpResponse response = post(QStringLiteral("/api/errors.php"), 50ms);
        QVERIFY(!response.isHttp);
        QCOMPARE(response.errorText, errorText);
        QCOMPARE(response.timedOut, timedOut);
    }
};

BRISKO_TEST(tst_StatusOnlyPost)
#include "tst_StatusOnlyPost.moc"
