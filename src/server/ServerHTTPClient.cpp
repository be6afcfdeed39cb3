#include "ServerHTTPClient.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <cmath>
#include <utility>

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

// A slot of a host, given back once: by the completion, or when the
// transport drops the exchange without completing it.
class HeldSlot
{
public:
    HeldSlot(std::shared_ptr<RateLimitGate> gate, QString key)
        : m_gate(std::move(gate))
        , m_key(std::move(key))
    {
    }
    ~HeldSlot() { release(); }
    HeldSlot(const HeldSlot&) = delete;
    HeldSlot& operator=(const HeldSlot&) = delete;

    void release()
    {
        if (m_gate) {
            std::exchange(m_gate, nullptr)->releaseSlot(m_key);
        }
    }

private:
    std::shared_ptr<RateLimitGate> m_gate;
    QString m_key;
};

QObject* contextOf(HttpTransport* transport)
{
    return transport ? static_cast<QObject*>(transport) : QCoreApplication::instance();
}

} // namespace

ServerHTTPClient::ServerHTTPClient(QPointer<HttpTransport> transport, std::shared_ptr<RateLimitGate> gate)
    : m_transport(std::move(transport))
    , m_gate(std::move(gate))
{
}

bool ServerHTTPClient::holdsBack(const QUrl& url) const
{
    const HttpTransport* transport = m_transport.data();
    const QString key = gateKey(url);
    return !transport || transport->isOffline() || !HttpTransport::isServerUrl(url) || m_gate->isBlocked(key)
           || m_gate->isBackingOff(key);
}

void ServerHTTPClient::postJSON(const QUrl& url, const QJsonObject& body, std::chrono::milliseconds timeout,
                                std::function<void(PostOutcome)> done, std::function<bool()> stillWanted) const
{
    HttpTransport* transport = m_transport.data();
    const QString key = gateKey(url);
    if (m_gate->isBlocked(key)) {
        deliverLater(contextOf(transport), std::move(done), PostOutcome::rateLimited(defaultRetryAfter));
        return;
    }
    // Requests that would never leave the machine say nothing about the host.
    if (!transport || transport->isOffline() || !HttpTransport::isServerUrl(url) || m_gate->isBackingOff(key)) {
        deliverLater(contextOf(transport), std::move(done), PostOutcome::failed());
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
    const QPointer<HttpTransport> guard = m_transport;
    m_gate->acquireSlot(key, [gate, key, guard, request, done = std::move(done),
                              stillWanted = std::move(stillWanted)](bool mayPost) mutable {
        if (!mayPost) {
            deliverLater(contextOf(guard.data()), std::move(done), PostOutcome::failed());
            return;
        }
        auto slot = std::make_shared<HeldSlot>(gate, key);
        if (stillWanted && !stillWanted()) {
            return;
        }
        if (!guard) {
            deliverLater(QCoreApplication::instance(), std::move(done), PostOutcome::failed());
            return;
        }
        guard->send(request, [gate, key, slot, done = std::move(done)](const HttpResponse& response) {
            // The back-off is recorded before the slot goes to the next post,
            // which then finds the host closed instead of trying it again.
            if (response.isHttp) {
                gate->recordAnswered(key);
            } else {
                gate->recordUnreachable(key);
            }
            slot->release();
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
