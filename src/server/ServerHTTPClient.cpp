#include "ServerHTTPClient.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <cmath>

namespace {

constexpr double defaultRetryAfter = 60;

// Outcomes that need no network still arrive later, like real ones, so that
// a queue of many records never recurses through its callbacks.
void deliverLater(QObject* context, std::function<void(PostOutcome)> done, PostOutcome outcome)
{
    if (!context) {
        return;
    }
    QMetaObject::invokeMethod(
        context, [done = std::move(done), outcome] { done(outcome); }, Qt::QueuedConnection);
}

} // namespace

ServerHTTPClient::ServerHTTPClient(QPointer<HttpTransport> transport, std::shared_ptr<RateLimitGate> gate)
    : m_transport(std::move(transport))
    , m_gate(std::move(gate))
{
}

void ServerHTTPClient::postJSON(const QUrl& url, const QJsonObject& body, std::chrono::milliseconds timeout,
                                std::function<void(PostOutcome)> done) const
{
    HttpTransport* transport = m_transport.data();
    QObject* context = transport ? static_cast<QObject*>(transport) : QCoreApplication::instance();
    const QString key = gateKey(url);
    if (m_gate->isBlocked(key)) {
        deliverLater(context, std::move(done), PostOutcome::rateLimited(defaultRetryAfter));
        return;
    }
    if (!transport) {
        deliverLater(context, std::move(done), PostOutcome::failed());
        return;
    }
    HttpRequest request;
    request.method = HttpRequest::Method::post;
    request.url = url;
    request.headers = {{QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json")}};
    request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    request.timeout = timeout;
    request.statusOnly = true;
    const std::shared_ptr<RateLimitGate> gate = m_gate;
    transport->send(request, [gate, key, done = std::move(done)](const HttpResponse& response) {
        if (!response.isHttp) {
            done(PostOutcome::failed());
            return;
        }
        if (response.status == 429) {
            const double retryAfter = parseRetryAfter(response.header(QByteArrayLiteral("Retry-After")));
            gate->block(key, std::max(retryAfter, 1.0));
            done(PostOutcome::rateLimited(retryAfter));
            return;
        }
        done(response.isSuccess() ? PostOutcome::delivered() : PostOutcome::failed());
    });
}

double ServerHTTPClient::parseRetryAfter(const std::optional<QByteArray>& header)
{
    if (!header) {
        return defaultRetryAfter;
    }
    const QString text = QString::fromLatin1(*header).trimmed();
    if (text.isEmpty()) {
        return defaultRetryAfter;
    }
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds)) {
        return defaultRetryAfter;
    }
    return std::clamp(seconds, 1.0, maxRetryAfterSeconds);
}

QString ServerHTTPClient::gateKey(const QUrl& url)
{
    const QString host = url.host();
    return host.isEmpty() ? url.toString() : host;
}
