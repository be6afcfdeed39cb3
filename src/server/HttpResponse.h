#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// What came back for one HttpRequest. Either the server answered with a
// status (isHttp), possibly with a body that could not be read completely, or
// the exchange failed before that (errorText says why, in Russian).
struct HttpResponse
{
    bool isHttp = false;
    int status = 0;
    QList<std::pair<QByteArray, QByteArray>> headers;
    // Empty unless the whole body arrived within the limits.
    QByteArray body;
    // The body was longer than the request allowed; reading stopped there.
    bool bodyTooLarge = false;
    // The connection broke or the time ran out after the status arrived.
    bool bodyIncomplete = false;
    bool timedOut = false;
    QString errorText;

    bool isSuccess() const { return isHttp && status >= 200 && status <= 299; }
    bool hasCompleteBody() const { return isHttp && !bodyTooLarge && !bodyIncomplete; }
    // Header names compare case-insensitively.
    std::optional<QByteArray> header(const QByteArray& name) const
    {
        for (const auto& [key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0) {
                return value;
            }
        }
        return std::nullopt;
    }
};
