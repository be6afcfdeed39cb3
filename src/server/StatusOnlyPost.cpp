#include "StatusOnlyPost.h"

#include "NetworkErrorTexts.h"

#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>

namespace {

bool isSecure(const QUrl& url)
{
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

QString describe(QAbstractSocket::SocketError error, const QString& platformText)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return NetworkErrorTexts::refused();
    case QAbstractSocket::RemoteHostClosedError:
        return NetworkErrorTexts::closed();
    case QAbstractSocket::HostNotFoundError:
        return NetworkErrorTexts::notFound();
    case QAbstractSocket::SocketTimeoutError:
        return NetworkErrorTexts::timedOut();
    case QAbstractSocket::SslHandshakeFailedError:
        return NetworkErrorTexts::secureConnectionFailed();
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::TemporaryError:
    case QAbstractSocket::UnknownSocketError:
        return NetworkErrorTexts::offline();
    default:
        break;
    }
    return platformText;
}

QByteArray hostHeader(const QUrl& url)
{
    QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
    if (host.contains(':')) {
        host = '[' + host + ']';
    }
    if (url.port() != -1) {
        host += ':' + QByteArray::number(url.port());
    }
    return host;
}

QByteArray requestTarget(const QUrl& url)
{
    QByteArray target = url.path(QUrl::FullyEncoded).toUtf8();
    if (target.isEmpty()) {
        target = "/";
    }
    if (url.hasQuery()) {
        target += '?' + url.query(QUrl::FullyEncoded).toUtf8();
    }
    return target;
}

// "HTTP/1.x NNN reason": the status, or 0 when the line is not one.
int statusOfLine(QByteArrayView line)
{
    if (!line.startsWith("HTTP/1.") || line.size() < 12 || line.at(8) != ' ') {
        return 0;
    }
    const QByteArrayView digits = line.sliced(9, 3);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })
        || (line.size() > 12 && line.at(12) != ' ')) {
        return 0;
    }
    return digits.toInt();
}

} // namespace

void StatusOnlyPost::start(const HttpRequest& request, const QList<QSslCertificate>& additionalCaCertificates,
                           Completion done, QObject* parent)
{
    auto* post = new StatusOnlyPost(request, additionalCaCertificates, std::move(done), parent);
    // Connecting may fail on the spot; the answer still comes later.
    QMetaObject::invokeMethod(
        post,
        [post] {
            post->m_deadline.start(std::max(post->m_request.timeout, std::chrono::milliseconds(1)));
            post->connectTo(post->m_url);
        },
        Qt::QueuedConnection);
}

StatusOnlyPost::StatusOnlyPost(const HttpRequest& request, const QList<QSslCertificate>& additionalCaCertificates,
                               Completion done, QObject* parent)
    : QObject(parent)
    , m_request(request)
    , m_additionalCaCertificates(additionalCaCertificates)
    , m_done(std::move(done))
    , m_url(request.url)
{
    m_deadline.setSingleShot(true);
    // A coarse timer may fire 5 % early; the limit is a promise both ways.
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        fail(NetworkErrorTexts::timedOut(), true);
    });
}

void StatusOnlyPost::connectTo(const QUrl& url)
{
    dropSocket();
    m_head.clear();
    m_url = url;
    const bool secure = isSecure(url);
    const quint16 port = quint16(url.port(secure ? 443 : 80));
    if (secure) {
        auto* socket = new QSslSocket(this);
        if (!m_additionalCaCertificates.isEmpty()) {
            QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
            tls.addCaCertificates(m_additionalCaCertificates);
            socket->setSslConfiguration(tls);
        }
        connect(socket, &QSslSocket::encrypted, this, &StatusOnlyPost::writeRequest);
        m_socket = socket;
    } else {
        m_socket = new QTcpSocket(this);
        connect(m_socket, &QTcpSocket::connected, this, &StatusOnlyPost::writeRequest);
    }
    // The socket takes no more than the head can be; whatever the server
    // sends beyond that waits in its own buffers until the connection is cut.
    m_socket->setReadBufferSize(maxHeadBytes + 1);
    connect(m_socket, &QTcpSocket::readyRead, this, &StatusOnlyPost::readHead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &StatusOnlyPost::socketFailed);
    if (auto* socket = qobject_cast<QSslSocket*>(m_socket)) {
        socket->connectToHostEncrypted(url.host(), port);
    } else {
        m_socket->connectToHost(url.host(), port);
    }
}

void StatusOnlyPost::writeRequest()
{
    // Nor does the system keep more for it than a head: the server has sent
    // nothing yet, and a fast one would otherwise fill megabytes before the
    // status is read.
    m_socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, int(maxHeadBytes));
    QByteArray head = "POST " + requestTarget(m_url) + " HTTP/1.1\r\nHost: " + hostHeader(m_url) + "\r\n";
    for (const auto& [name, value] : m_request.headers) {
        head += name + ": " + value + "\r\n";
    }
    head += "Content-Length: " + QByteArray::number(m_request.body.size()) + "\r\nConnection: close\r\n\r\n";
    m_socket->write(head + m_request.body);
}

void StatusOnlyPost::readHead()
{
    if (m_finished || !m_socket) {
        return;
    }
    m_head += m_socket->read(maxHeadBytes + 1 - m_head.size());
    for (;;) {
        const qsizetype end = m_head.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_head.size() > maxHeadBytes) {
                fail(QStringLiteral("сервер прислал неверный ответ"));
            }
            return;
        }
        const QList<QByteArray> lines = m_head.left(end).split('\n');
        const int status = statusOfLine(lines.first().trimmed());
        if (status == 0) {
            fail(QStringLiteral("сервер прислал неверный ответ"));
            return;
        }
        // An interim answer (100 Continue) comes before the real one.
        if (status < 200) {
            m_head.remove(0, end + 4);
            continue;
        }
        HttpResponse response;
        response.isHttp = true;
        response.status = status;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines.at(i).indexOf(':');
            if (colon > 0) {
                response.headers.append({lines.at(i).left(colon).trimmed(), lines.at(i).mid(colon + 1).trimmed()});
            }
        }
        const std::optional<QByteArray> location = response.header(QByteArrayLiteral("Location"));
        if (status >= 300 && status <= 399 && location) {
            const QUrl next = m_url.resolved(QUrl::fromEncoded(*location));
            if (m_redirects < maxRedirects && m_request.mayRedirectTo(next)) {
                ++m_redirects;
                connectTo(next);
                return;
            }
        }
        finish(response);
        return;
    }
}

void StatusOnlyPost::socketFailed()
{
    if (m_socket) {
        fail(describe(m_socket->error(), m_socket->errorString()));
    }
}

void StatusOnlyPost::fail(const QString& text, bool timedOut)
{
    HttpResponse response;
    response.errorText = text;
    response.timedOut = timedOut;
    finish(response);
}

void StatusOnlyPost::finish(const HttpResponse& response)
{
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_deadline.stop();
    dropSocket();
    const Completion done = std::move(m_done);
    deleteLater();
    done(response);
}

// Cut at once (no orderly close): nothing more is read from the server or
// sent to it.
void StatusOnlyPost::dropSocket()
{
    if (!m_socket) {
        return;
    }
    m_socket->disconnect(this);
    m_socket->abort();
    m_socket->deleteLater();
    m_socket = nullptr;
}
