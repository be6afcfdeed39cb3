#pragma once

#include "HttpTransport.h"
#include "PostOutcome.h"
#include "RateLimitGate.h"

#include <QJsonObject>
#include <QPointer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// Posts small JSON records (usage events, error reports) to the maker's
// server through the per-host gate: the server's 429 back-off and the
// back-off after a host could not be reached hold for every endpoint of the
// same host, and at most two posts per host run at once (one until the host
// has answered). The other server features make their own requests and do
// not consult the gate.
class ServerHTTPClient
{
public:
    static constexpr std::chrono::milliseconds postTimeout{8000};
    // A Retry-After beyond a day is taken as a day: a block lasts until the
    // process ends at most anyway, and larger values would overflow the clock.
    static constexpr double maxRetryAfterSeconds = 86400;

    ServerHTTPClient(QPointer<HttpTransport> transport, std::shared_ptr<RateLimitGate> gate);

    // One POST of the compact JSON of body. done runs later on the
    // transport's thread, exactly once (not at all when the transport is
    // destroyed first, or when stillWanted says no by the time a slot of the
    // host is free). A host blocked by a 429 answers rateLimited(60), a host
    // in its back-off failed, both without network traffic. Only the status
    // of the answer is used, never its body; no answer at all puts the host
    // into its back-off.
    void postJSON(const QUrl& url, const QJsonObject& body, std::chrono::milliseconds timeout,
                  std::function<void(PostOutcome)> done, std::function<bool()> stillWanted = {}) const;

    // True when a post to url would now be answered without network traffic
    // (the host blocked or in its back-off, the transport offline or gone):
    // a sender of many records then leaves them all for later at once.
    bool holdsBack(const QUrl& url) const;

    // Seconds to stay away: 60 when missing, empty or not a number (such as
    // an HTTP date), at least 1, at most maxRetryAfterSeconds.
    static double parseRetryAfter(const std::optional<QByteArray>& header);
    // The host, or the whole URL text when there is none.
    static QString gateKey(const QUrl& url);

private:
    QPointer<HttpTransport> m_transport;
    std::shared_ptr<RateLimitGate> m_gate;
};
