#pragma once

#include "HttpTransport.h"
#include "RegionPayload.h"

#include <QFuture>
#include <QLocale>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <optional>

// Decides at launch whether the program may be used in the user's region:
// asks the maker's server which country the request comes from and compares
// the answer with the blocked regions. Without an answer (no network, an
// error status, a body that does not decode, the time limit) the program is
// allowed and works offline. Lives on the main thread; only the request runs
// elsewhere.
class RegionGateService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Status status READ status NOTIFY statusChanged)
    Q_PROPERTY(std::optional<QString> lastCheckSummary READ lastCheckSummary NOTIFY lastCheckSummaryChanged)

public:
    enum class Status { checking, allowed, blocked };
    Q_ENUM(Status)

    // JSON answers beyond this are not read.
    static constexpr qint64 maxAnswerBytes = qint64(1) << 20;

    // locale: the user's current locale, whose region is sent along and shown.
    explicit RegionGateService(QPointer<HttpTransport> transport, QLocale locale = QLocale::system(),
                               QObject* parent = nullptr);

    // Sets status to checking, asks the server (at most networkTimeout
    // seconds) and publishes the summary, then the verdict. The future
    // finishes after both are published. A newer evaluation supersedes an
    // older one still waiting: only the newest publishes.
    QFuture<void> evaluate(const QString& regionCheckURL);

    Status status() const { return m_status; }
    const std::optional<QString>& lastCheckSummary() const { return m_lastCheckSummary; }
    const QSet<QString>& blockedRegions() const { return m_blockedRegions; }
    double networkTimeout() const { return m_networkTimeout; }
    void setNetworkTimeout(double seconds) { m_networkTimeout = seconds; }

    // The locale's region code, upper-cased; nothing when it has none.
    static std::optional<QString> localRegion(const QLocale& locale);
    // "checking", "allowed", "blocked"
    static QString statusName(Status status);
    static QString summary(const std::optional<QString>& localRegion, const std::optional<RegionPayload>& answer);
    static Status decide(const std::optional<RegionPayload>& answer, const QSet<QString>& blockedRegions);

Q_SIGNALS:
    void statusChanged();
    void lastCheckSummaryChanged();

private:
    void publish(const std::optional<QString>& localRegion, const std::optional<RegionPayload>& answer);
    void setStatus(Status status);

    QPointer<HttpTransport> m_transport;
    QLocale m_locale;
    Status m_status = Status::checking;
    std::optional<QString> m_lastCheckSummary;
    const QSet<QString> m_blockedRegions{QStringLiteral("UA")};
    double m_networkTimeout = 3.0;
    quint64 m_generation = 0;
};
