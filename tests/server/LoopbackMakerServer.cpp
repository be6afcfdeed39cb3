#include "LoopbackMakerServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

const QString apiPrefix = QStringLiteral("/api/brisko/");
constexpr qsizetype maxHeadBytes = 64 * 1024;
constexpr qint64 maxRequestBody = 4 << 20;
constexpr qint64 generatedChunk = 64 * 1024;
constexpr qint64 maxPendingWrite = 256 * 1024;
// The server keeps the newest requests only, so that a devserver left
// running for days stays small.
constexpr qsizetype maxRecorded = 10000;

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

ScriptedResponse jsonAnswer(int status, const QJsonObject& object)
{
    return ScriptedResponse::json(status, compact(object));
}

} // namespace

LoopbackMakerServer::LoopbackMakerServer(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &LoopbackMakerServer::accept);
}

LoopbackMakerServer::~LoopbackMakerServer() = default;

bool LoopbackMakerServer::listen(quint16 port, const QHostAddress& address)
{
    return m_server->listen(address, port);
}

bool LoopbackMakerServer::listenTls(const QSslCertificate& certificate, const QSslKey& key, const QString& host,
                                    quint16 port, const QHostAddress& address)
{
    delete m_server;
    auto* server = new QSslServer(this);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(certificate);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    server->setSslConfiguration(tls);
    // Connections are handed out once their handshake is done.
    connect(server, &QSslServer::pendingConnectionAvailable, this, &LoopbackMakerServer::accept);
    m_server = server;
    m_origin = QStringLiteral("https://") + host;
    return m_server->listen(address, port);
}

quint16 LoopbackMakerServer::port() const
{
    return m_server->serverPort();
}

QString LoopbackMakerServer::url(const QString& path) const
{
    return QStringLiteral("%1:%2%3").arg(m_origin).arg(port()).arg(path);
}

QString LoopbackMakerServer::endpoint(const QString& name) const
{
    return url(apiPrefix + name);
}

QList<RecordedRequest> LoopbackMakerServer::requests(const QString& path) const
{
    QList<RecordedRequest> matching;
    std::copy_if(m_requests.cbegin(), m_requests.cend(), std::back_inserter(matching),
                 [&path](const RecordedRequest& request) { return request.path == path; });
    return matching;
}

QByteArray LoopbackMakerServer::picture()
{
    // A 1×1 PNG.
    return QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==");
}

QByteArray LoopbackMakerServer::defaultAdsConfig() const
{
    const auto banner = [this](const QString& id, const QString& title, const QString& subtitle) {
        return QJsonObject{
            {QStringLiteral("id"), id},
            {QStringLiteral("title"), title},
            {QStringLiteral("subtitle"), subtitle},
            {QStringLiteral("url"), url(QStringLiteral("/promo/") + id)},
            {QStringLiteral("sponsor"), QStringLiteral("Korvane")},
            {QStringLiteral("imageURL"), url(apiPrefix + QStringLiteral("images/") + id + QStringLiteral(".png"))},
        };
    };
    const QJsonArray banners{banner(QStringLiteral("local-one"), QStringLiteral("Локальный сервер"),
                                    QStringLiteral("Баннер с loopback-сервера")),
                             banner(QStringLiteral("local-two"), QStringLiteral("Второй баннер"),
                                    QStringLiteral("Меняется по таймеру"))};
    return compact({{QStringLiteral("banners"), banners}, {QStringLiteral("rotateSeconds"), 15}});
}

void LoopbackMakerServer::accept()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        m_buffers.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { writeGenerated(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            m_generatedLeft.remove(socket);
            socket->deleteLater();
        });
    }
}

void LoopbackMakerServer::readFrom(QTcpSocket* socket)
{
    const auto it = m_buffers.find(socket);
    if (it == m_buffers.end()) {
        socket->readAll();
        return;
    }
    QByteArray& buffer = *it;
    buffer += socket->readAll();
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (buffer.size() > maxHeadBytes) {
            m_buffers.erase(it);
            answer(socket, ScriptedResponse::json(431, {}));
        }
        return;
    }
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    RecordedRequest request;
    if (requestLine.size() >= 2) {
        request.method = requestLine.at(0);
        const QList<QByteArray> target = requestLine.at(1).split('?');
        request.path = QString::fromUtf8(target.first());
        request.query = QString::fromUtf8(requestLine.at(1).mid(target.first().size() + 1));
    }
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0) {
            request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
    }
    const qint64 length = request.header("Content-Length").value_or("0").toLongLong();
    if (length < 0 || length > maxRequestBody) {
        m_buffers.erase(it);
        answer(socket, ScriptedResponse::json(413, {}));
        return;
    }
    if (buffer.size() < headEnd + 4 + length) {
        return;
    }
    request.body = buffer.mid(headEnd + 4, length);
    m_buffers.erase(it);
    handle(socket, request);
}

void LoopbackMakerServer::handle(QTcpSocket* socket, const RecordedRequest& request)
{
    QQueue<ScriptedResponse>& script = m_scripts[request.path];
    const ScriptedResponse response = !script.isEmpty()             ? script.dequeue()
        : m_standing.contains(request.path) ? m_standing.value(request.path)
                                            : builtIn(request);
    m_requests.append(request);
    if (m_requests.size() > maxRecorded) {
        m_requests.removeFirst();
    }
    Q_EMIT requestReceived(QString::fromLatin1(request.method), request.path, response.status);
    answer(socket, response);
}

ScriptedResponse LoopbackMakerServer::builtIn(const RecordedRequest& request) const
{
    const QString name = request.path.startsWith(apiPrefix) ? request.path.mid(apiPrefix.size()) : QString();
    const auto refused = [](int status, const QString& error) {
        return jsonAnswer(status, {{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}});
    };
    if (request.method == "GET") {
        if (name.startsWith(QLatin1String("images/"))) {
            ScriptedResponse image = ScriptedResponse::withHeader(200, "Content-Type", "image/png");
            image.body = picture();
            return image;
        }
        if (name == QLatin1String("version.json")) {
            return jsonAnswer(200, {{QStringLiteral("version"), QStringLiteral("0.1.0")},
                                    {QStringLiteral("build"), QStringLiteral("1")},
                                    {QStringLiteral("download_url"), url(QStringLiteral("/downloads/Brisko-Vella.dmg"))},
                                    {QStringLiteral("release_notes"), QStringLiteral("Локальная сборка")}});
        }
        if (name == QLatin1String("region.php")) {
            QJsonObject answer{{QStringLiteral("vpn_suspected"), false}, {QStringLiteral("blocked"), false}};
            if (!m_country.isEmpty()) {
                answer.insert(QStringLiteral("country_code"), m_country);
            }
            const std::optional<QByteArray> local = request.header("X-Client-Region");
            answer.insert(QStringLiteral("client_region"),
                          local ? QJsonValue(QString::fromUtf8(*local)) : QJsonValue(QJsonValue::Null));
            return jsonAnswer(200, answer);
        }
        if (name == QLatin1String("ads.json")) {
            return ScriptedResponse::json(200, m_adsConfig.isEmpty() ? defaultAdsConfig() : m_adsConfig);
        }
    } else if (request.method == "POST") {
        if (name == QLatin1String("events.php") || name == QLatin1String("errors.php")) {
            const bool object = QJsonDocument::fromJson(request.body).isObject();
            return object ? jsonAnswer(200, {{QStringLiteral("ok"), true}}) : refused(400, QStringLiteral("bad json"));
        }
        if (name == QLatin1String("feedback.php")) {
            if (request.json().value(QLatin1String("message")).toString().trimmed().size() < 5) {
                return refused(400, QStringLiteral("Сообщение слишком короткое"));
            }
            return jsonAnswer(200, {{QStringLiteral("ok"), true},
                                    {QStringLiteral("message"), QStringLiteral("Спасибо! Сообщение получено.")}});
        }
    }
    return refused(404, QStringLiteral("not found"));
}

void LoopbackMakerServer::answer(QTcpSocket* socket, ScriptedResponse response)
{
    if (response.delayMs > 0) {
        const int delay = std::exchange(response.delayMs, 0);
        QTimer::singleShot(delay, socket, [=, this] { answer(socket, response); });
        return;
    }
    if (response.ending != ScriptedResponse::Ending::answer) {
        if (response.ending == ScriptedResponse::Ending::closeAtOnce) {
            socket->disconnectFromHost();
        }
        return;
    }
    const qint64 length = response.declaredLength >= 0 ? response.declaredLength
        : response.generatedBodyBytes > 0           ? response.generatedBodyBytes
                                                    : response.body.size();
    // Clients read the code; the reason phrase is free.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n";
    bool typed = false;
    for (const auto& [name, value] : response.headers) {
        head += name + ": " + value + "\r\n";
        typed = typed || name.compare("Content-Type", Qt::CaseInsensitive) == 0;
    }
    if (!typed) {
        head += "Content-Type: application/json; charset=utf-8\r\n";
    }
    if (response.declaredLength != ScriptedResponse::unannounced) {
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    }
    socket->write(head + "Connection: close\r\n\r\n");
    if (response.generatedBodyBytes > 0) {
        m_generatedLeft.insert(socket, response.generatedBodyBytes);
        writeGenerated(socket);
    } else if (response.dripIntervalMs > 0) {
        drip(socket, response.body, response.dripIntervalMs);
    } else {
        socket->write(response.body);
        socket->disconnectFromHost();
    }
}

void LoopbackMakerServer::writeGenerated(QTcpSocket* socket)
{
    const auto it = m_generatedLeft.find(socket);
    if (it == m_generatedLeft.end()) {
        return;
    }
    while (*it > 0 && socket->bytesToWrite() < maxPendingWrite) {
        const qint64 chunk = std::min(generatedChunk, *it);
        socket->write(QByteArray(chunk, 'x'));
        *it -= chunk;
        m_generatedBytesSent += chunk;
    }
    if (*it == 0) {
        m_generatedLeft.erase(it);
        socket->disconnectFromHost();
    }
}

void LoopbackMakerServer::drip(QTcpSocket* socket, QByteArray body, int intervalMs)
{
    auto* timer = new QTimer(socket);
    auto sent = std::make_shared<qsizetype>(0);
    connect(timer, &QTimer::timeout, socket, [socket, timer, body, sent] {
        if (*sent >= body.size() || socket->state() != QAbstractSocket::ConnectedState) {
            timer->stop();
            socket->disconnectFromHost();
            return;
        }
        socket->write(body.mid((*sent)++, 1));
    });
    timer->start(intervalMs);
}
