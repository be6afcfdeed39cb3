#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QUrl>

#include <chrono>
#include <functional>
#include <utility>

// One request to the maker's server together with the limits it runs under.
struct HttpRequest
{
    enum class Method { get, post };

    Method method = Method::get;
    QUrl url;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // The whole exchange, from connecting to the last byte. The platform's own
    // transfer time-out restarts with every byte, so a server that drips one
    // byte a second would otherwise hold the request for ever.
    std::chrono::milliseconds timeout{8000};
    // A longer answer is abandoned as soon as it passes this size.
    qint64 maxBodyBytes = qint64(1) << 20;
    // The exchange ends once the status line and headers are in; the body is
    // never read.
    bool statusOnly = false;
    // Always ask the server, never a local cache.
    bool bypassCache = false;
    // For downloads: the body is handed over piece by piece as it arrives
    // (on the transport's thread, still capped by maxBodyBytes) instead of
    // being collected in HttpResponse::body. Returning false ends the
    // exchange; the response then says bodyIncomplete.
    std::function<bool(QByteArrayView)> bodySink;
    // Asked about every redirect that the same-scheme, same-host rule lets
    // through; false refuses it, and the redirect itself is the answer.
    std::function<bool(const QUrl&)> acceptRedirect;

    // A redirect is followed only to the same scheme and host as url, and
    // only when acceptRedirect (if any) agrees.
    bool mayRedirectTo(const QUrl& next) const
    {
        return next.scheme().compare(url.scheme(), Qt::CaseInsensitive) == 0
            && next.host().compare(url.host(), Qt::CaseInsensitive) == 0 && (!acceptRedirect || acceptRedirect(next));
    }
};
