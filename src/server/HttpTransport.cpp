#include "HttpTransport.h"

#include "NetworkErrorTexts.h"
#include "StatusOnlyPost.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslConfiguration>
#include <QTimer>

#include <memory>
#include <optional>

namespace {

constexpr int maxRedirects = 5;
// Data is taken out of the reply as it arrives; this bounds what the loader
// holds in between, whatever the server sends.
constexpr qint64 readBufferBytes = 64 * 1024;

struct Exchange
{
    HttpTransport::Completion done;
    // Its request without the body: the address redirects are resolved
    // against, and the rule that lets them through.
    HttpRequest request;
    qint64 maxBodyBytes = 0;
    bool statusOnly = false;
    QByteArray body;
    std::function<bool(QByteArrayView)> sink;
    qint64 sunk = 0;
    bool sinkRefused = false;
    bool finished = false;
};

QString describe(QNetworkReply::NetworkError error, const QString& platformText)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return NetworkErrorTexts::refused();
    case QNetworkReply::RemoteHostClosedError:
        return NetworkErrorTexts::closed();
    case QNetworkReply::HostNotFoundError:
        return NetworkErrorTexts::notFound();
    case QNetworkReply::TimeoutError:
        return NetworkErrorTexts::timedOut();
    case QNetworkReply::SslHandshakeFailedError:
        return NetworkErrorTexts::secureConnectionFailed();
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
        return NetworkErrorTexts::offline();
    case QNetworkReply::TooManyRedirectsError:
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("сервер перенаправляет запрос на другой адрес");
    default:
        break;
    }
    return platformText;
}

// Errors of the connection itself (1–199) or of the protocol (300–399), as
// opposed to the ones that only restate an HTTP status.
bool isTransportError(QNetworkReply::NetworkError error)
{
    const int code = int(error);
    return (code >= 1 && code <= 199) || (code >= 300 && code <= 399);
}

bool isRedirectStatus(int status)
{
    return status >= 300 && status <= 399;
}

std::optional<int> statusOf(const QNetworkReply* reply)
{
    const QVariant value = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toInt();
}

HttpResponse httpResponse(const QNetworkReply* reply, int status)
{
    HttpResponse response;
    response.isHttp = true;
    response.status = status;
    for (const QNetworkReply::RawHeaderPair& pair : reply->rawHeaderPairs()) {
        response.headers.append({pair.first, pair.second});
    }
    return response;
}

} // namespace

HttpTransport::HttpTransport(QObject* parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this))
{
}

// Connections to this object go before its children do, so the replies that
// the manager aborts on its way out call no completion.
HttpTransport::~HttpTransport() = default;

void HttpTransport::setOffline(bool offline)
{
    m_offline = offline;
}

void HttpTransport::setAdditionalCaCertificates(const QList<QSslCertificate>& certificates)
{
    m_additionalCaCertificates = certificates;
}

void HttpTransport::send(const HttpRequest& request, Completion done)
{
    if (m_offline || !isServerUrl(request.url)) {
        HttpResponse refused;
        refused.errorText = m_offline ? QStringLiteral("включён режим без сети") : QStringLiteral("неверный адрес сервера");
        QMetaObject::invokeMethod(
            this, [done = std::move(done), refused] { done(refused); }, Qt::QueuedConnection);
        return;
    }

    if (request.statusOnly && request.method == HttpRequest::Method::post) {
        StatusOnlyPost::start(request, m_additionalCaCertificates, std::move(done), this);
        return;
    }

    QNetworkRequest networkRequest(request.url);
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                QNetworkRequest::UserVerifiedRedirectPolicy);
    networkRequest.setMaximumRedirectsAllowed(maxRedirects);
    if (request.bypassCache) {
        networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    }
    for (const auto& [name, value] : request.headers) {
        networkRequest.setRawHeader(name, value);
    }
    if (!m_additionalCaCertificates.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(m_additionalCaCertificates);
        networkRequest.setSslConfiguration(tls);
    }
    QNetworkReply* reply = request.method == HttpRequest::Method::post ? m_manager->post(networkRequest, request.body)
                                                                        : m_manager->get(networkRequest);
    reply->setReadBufferSize(readBufferBytes);

    auto exchange = std::make_shared<Exchange>();
    exchange->done = std::move(done);
    exchange->request = request;
    exchange->request.body.clear();
    exchange->maxBodyBytes = request.maxBodyBytes;
    exchange->statusOnly = request.statusOnly;
    exchange->sink = request.bodySink;

    // Ends the exchange once. The reply is cut off so that nothing more is
    // read from or sent to the server; its signals are ignored from here on.
    const auto complete = [reply, exchange](const HttpResponse& response) {
        if (exchange->finished) {
            return;
        }
        exchange->finished = true;
        exchange->body.clear();
        // A success or a timeout is stopped at once: a reply that is only let
        // go has the network thread drain an endless body without pause, and
        // every other request of the process waits behind it. Any other
        // status already has its error queued by the loader, which an abort
        // would raise a second time; that reply is only let go.
        if (response.timedOut || (response.status >= 200 && response.status < 300)) {
            reply->abort();
        }
        reply->deleteLater();
        const Completion finish = std::move(exchange->done);
        finish(response);
    };

    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    // A coarse timer may fire 5 % early; the limit is a promise both ways.
    deadline->setTimerType(Qt::PreciseTimer);
    connect(deadline, &QTimer::timeout, this, [reply, complete] {
        HttpResponse response;
        const std::optional<int> status = statusOf(reply);
        if (status && !isRedirectStatus(*status)) {
            response = httpResponse(reply, *status);
            response.bodyIncomplete = true;
        } else {
            response.errorText = NetworkErrorTexts::timedOut();
        }
        response.timedOut = true;
        complete(response);
    });

    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, exchange, complete] {
        const std::optional<int> status = statusOf(reply);
        if (!status || (isRedirectStatus(*status) && reply->hasRawHeader("Location"))) {
            return;
        }
        HttpResponse response = httpResponse(reply, *status);
        if (exchange->statusOnly) {
            complete(response);
            return;
        }
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > exchange->maxBodyBytes) {
            response.bodyTooLarge = true;
            complete(response);
        }
    });

    connect(reply, &QNetworkReply::redirected, this, [reply, exchange, complete](const QUrl& target) {
        if (exchange->request.mayRedirectTo(exchange->request.url.resolved(target))) {
            Q_EMIT reply->redirectAllowed();
            return;
        }
        // Refused: the answer is the redirect itself, without a body.
        complete(httpResponse(reply, statusOf(reply).value_or(302)));
    });

    // False once the body is over its limit or the sink refused a piece.
    const auto readAvailable = [reply, exchange] {
        if (!exchange->sink) {
            exchange->body += reply->read(exchange->maxBodyBytes + 1 - exchange->body.size());
            return exchange->body.size() <= exchange->maxBodyBytes;
        }
        for (;;) {
            const QByteArray piece =
                reply->read(std::min(readBufferBytes, exchange->maxBodyBytes + 1 - exchange->sunk));
            if (piece.isEmpty()) {
                return true;
            }
            exchange->sunk += piece.size();
            if (exchange->sunk > exchange->maxBodyBytes) {
                return false;
            }
            if (!exchange->sink(piece)) {
                exchange->sinkRefused = true;
                return false;
            }
        }
    };

    connect(reply, &QNetworkReply::readyRead, this, [reply, exchange, complete, readAvailable] {
        if (exchange->finished || readAvailable()) {
            return;
        }
        HttpResponse response = httpResponse(reply, statusOf(reply).value_or(0));
        (exchange->sinkRefused ? response.bodyIncomplete : response.bodyTooLarge) = true;
        complete(response);
    });

    connect(reply, &QNetworkReply::finished, this, [reply, exchange, complete, readAvailable] {
        if (exchange->finished) {
            return;
        }
        const bool fits = readAvailable();
        const std::optional<int> status = statusOf(reply);
        if (!status) {
            HttpResponse failed;
            failed.errorText = describe(reply->error(), reply->errorString());
            complete(failed);
            return;
        }
        HttpResponse response = httpResponse(reply, *status);
        if (!fits) {
            (exchange->sinkRefused ? response.bodyIncomplete : response.bodyTooLarge) = true;
        } else if (isTransportError(reply->error())) {
            response.bodyIncomplete = true;
        } else {
            response.body = exchange->body;
        }
        complete(response);
    });

    deadline->start(std::max(request.timeout, std::chrono::milliseconds(1)));
}

bool HttpTransport::offlineRequested()
{
    const QByteArray value = qgetenv("BRISKO_OFFLINE");
    return !value.isEmpty() && value != "0";
}

bool HttpTransport::isServerUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !url.host().isEmpty();
}

QUrl HttpTransport::serverUrl(const QString& text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    return isServerUrl(url) ? url : QUrl();
}
