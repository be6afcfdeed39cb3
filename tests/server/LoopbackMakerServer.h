#pragma once

#include "RecordedRequest.h"
#include "ScriptedResponse.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QQueue>
#include <QString>

class QSslCertificate;
class QSslKey;
class QTcpServer;
class QTcpSocket;

// A stand-in for the maker's server on the loopback interface: HTTP/1.1, one
// request per connection, built on QTcpServer so that answers can be broken
// on purpose. It knows the six endpoints under "/api/brisko/" (version.json,
// region.php, events.php, errors.php, feedback.php, ads.json) and serves the
// banner pictures under "/api/brisko/images/". Tests script the next answers
// of any path (statuses, Retry-After, delays, drips, truncated, malformed or
// oversized bodies) and read back every request it received.
class LoopbackMakerServer : public QObject
{
    Q_OBJECT

public:
    explicit LoopbackMakerServer(QObject* parent = nullptr);
    ~LoopbackMakerServer() override;

    bool listen(quint16 port = 0, const QHostAddress& address = QHostAddress::LocalHost);
    // The same over TLS with this certificate: url() then says
    // "https://<host>", host being the name the certificate is made out to.
    bool listenTls(const QSslCertificate& certificate, const QSslKey& key, const QString& host,
                   quint16 port = 0, const QHostAddress& address = QHostAddress::LocalHost);
    quint16 port() const;
    // "http://127.0.0.1:<port>" + path (https and the certificate's host
    // after listenTls)
    QString url(const QString& path) const;
    // url("/api/brisko/" + name)
    QString endpoint(const QString& name) const;

    // The next answers for a path, in order; then the built-in one again.
    void enqueue(const QString& path, const ScriptedResponse& response) { m_scripts[path].enqueue(response); }
    // Replaces the built-in answer of a path until cleared.
    void setStanding(const QString& path, const ScriptedResponse& response) { m_standing.insert(path, response); }
    void clearStanding(const QString& path) { m_standing.remove(path); }

    // What region.php reports as the caller's country ("" leaves it out).
    void setCountry(const QString& code) { m_country = code; }
    // The body of ads.json.
    void setAdsConfig(const QByteArray& body) { m_adsConfig = body; }
    QByteArray defaultAdsConfig() const;
    // The bytes of every picture under /api/brisko/images/.
    static QByteArray picture();

    QList<RecordedRequest> requests() const { return m_requests; }
    QList<RecordedRequest> requests(const QString& path) const;
    qsizetype count(const QString& path) const { return requests(path).size(); }
    // Bytes of generated (oversized) bodies that went out before the client
    // stopped reading.
    qint64 generatedBytesSent() const { return m_generatedBytesSent; }

Q_SIGNALS:
    void requestReceived(const QString& method, const QString& path, int status);

private:
    void accept();
    void readFrom(QTcpSocket* socket);
    void handle(QTcpSocket* socket, const RecordedRequest& request);
    ScriptedResponse builtIn(const RecordedRequest& request) const;
    void answer(QTcpSocket* socket, ScriptedResponse response);
    void writeGenerated(QTcpSocket* socket);
    void drip(QTcpSocket* socket, QByteArray body, int intervalMs);

    QTcpServer* m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QHash<QTcpSocket*, qint64> m_generatedLeft;
    QHash<QString, QQueue<ScriptedResponse>> m_scripts;
    QHash<QString, ScriptedResponse> m_standing;
    QList<RecordedRequest> m_requests;
    QString m_country = QStringLiteral("RU");
    QString m_origin = QStringLiteral("http://127.0.0.1");
    QByteArray m_adsConfig;
    qint64 m_generatedBytesSent = 0;
};
