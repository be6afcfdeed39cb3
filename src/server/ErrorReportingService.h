#pragma once

#include "ClientInfo.h"
#include "ErrorReport.h"
#include "QueueFlusher.h"
#include "ServerHTTPClient.h"
#include "StoredQueue.h"
#include "model/AppFeature.h"
#include "platform/Clock.h"
#include "platform/DefaultsStore.h"
#include "platform/WriteBehindDefaultsStore.h"

#include <QDateTime>
#include <QFuture>
#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>

// Owns the anonymous error reports: the queue of undelivered reports and the
// list of recent ones in the defaults store (written behind the reports, so
// that a report costs the main thread no wait for the disk), the in-memory
// de-duplication, the sanitising of context values and the sending.
//
// Confined to the thread of the transport behind its client (the main thread
// in the program); ErrorReporter hands calls from other threads over to it.
// Requests run while the thread goes on: a report made while a flush waits
// for the server is stored at once and sent by the same flush, which removes
// from the store only what the server took.
class ErrorReportingService
{
public:
    static inline const QString queueKey = QStringLiteral("BriskoErrorQueue");
    static inline const QString recentKey = QStringLiteral("BriskoRecentErrors");
    static constexpr qsizetype maxQueue = 100;
    static constexpr qsizetype maxRecent = 20;
    static constexpr qint64 dedupeWindowSeconds = 120;
    static constexpr qsizetype maxMessageLength = 2000;
    static constexpr qsizetype maxContextEntries = 20;
    static constexpr qsizetype maxContextKeyLength = 64;
    static constexpr qsizetype maxContextValueLength = 500;

    // crashFilePath: where the crash handler of a previous run may have left
    // a report (see CrashHandler); empty for none.
    ErrorReportingService(DefaultsStorePtr defaults, ClockPtr clock, ServerHTTPClient client, ClientInfo info,
                          QString crashFilePath = QString());

    // Takes the endpoint, the switch and the anonymous id for all later
    // reports, queues a crash report left by a previous run, then flushes.
    // Switching reporting off stops the flush after the request in flight
    // and keeps the queue for later; a crash report is then discarded.
    void configure(const QString& endpoint, bool enabled, const QString& anonymousId);
    // Nothing happens unless enabled with an endpoint and an anonymous id,
    // for an empty message, or for the same feature and message within
    // dedupeWindowSeconds.
    void report(AppFeature feature, const QString& message, const QMap<QString, QString>& context);
    // Finishes when everything queued so far has been tried once.
    QFuture<void> flushQueue();
    bool isFlushing() const { return m_flusher.isRunning(); }
    // Finishes when the running flush ends (at once when none runs); starts none.
    QFuture<void> whenIdle() { return m_flusher.whenIdle(); }
    void setPostTimeout(std::chrono::milliseconds timeout) { m_flusher.setTimeout(timeout); }

    // Returns when every report made so far is in the defaults store.
    void waitForListWrites() { m_listStore->waitForWrites(); }

    ErrorReportList loadQueue() const { return m_queue.load(); }
    bool saveQueue(const ErrorReportList& reports) const { return m_queue.save(reports); }
    ErrorReportList loadRecent() const { return m_recent.load(); }
    void appendRecent(const ErrorReport& report) const { m_recent.append(report); }

    // "feature: message" of the newest recent reports, newest first, each
    // message cut to 200 characters.
    static QStringList recentSummaries(const DefaultsStorePtr& defaults, qsizetype limit);
    // At most 20 entries, keys cut to 64 and values to 500 characters,
    // without the ones whose key mentions a password or a serial number.
    static QMap<QString, QString> sanitizedContext(const QMap<QString, QString>& context);

private:
    void collectCrashReport();

    DefaultsStorePtr m_defaults;
    ClockPtr m_clock;
    ClientInfo m_info;
    QString m_crashFilePath;
    // The queue and the recent list, written behind the reports.
    std::shared_ptr<WriteBehindDefaultsStore> m_listStore;
    StoredQueue<ErrorReport> m_queue;
    StoredQueue<ErrorReport> m_recent;
    QueueFlusher<ErrorReport> m_flusher;

    QString m_endpoint;
    QString m_anonymousId;
    bool m_enabled = true;
    QHash<QString, QDateTime> m_recentFingerprints;
};
