#pragma once

#include "AnalyticsEvent.h"
#include "ClientInfo.h"
#include "QueueFlusher.h"
#include "ServerHTTPClient.h"
#include "StoredQueue.h"
#include "model/UsageEventSink.h"
#include "platform/Clock.h"
#include "platform/DefaultsStore.h"

#include <QFuture>

// Anonymous usage events: queued under a random installation id and sent in
// the background, so that events raised offline are delivered later. An
// event is one line appended to the queue (see StoredQueue): it reaches the
// disk at once and costs the command that raises it one small write, however
// long the queue. Nothing is recorded or sent while analytics is off; the
// queue then waits until it is switched on again.
//
// Each event starts a flush, unless the service serves a short process (the
// command line): there events are only queued while it works, and a process
// that outlives it sends them after its output
// (ServerServices::finishSendsBeyondExit), so that no send takes the
// command's time.
//
// Confined to the thread of the transport behind its client (the main
// thread): track is called there, and flushes run there between their
// requests. A flush removes only the events the server took, never one that
// was queued while it waited.
class AnalyticsService : public UsageEventSink
{
public:
    static inline const QString anonymousIdKey = QStringLiteral("BriskoAnonymousId");
    static inline const QString queueKey = QStringLiteral("BriskoAnalyticsQueue");
    static constexpr qsizetype maxQueue = 200;

    // Reads the installation id, or makes and stores a new one. The queue
    // lives in queueStore when one is given (else in defaults); a queue that
    // an earlier version left in defaults is moved there first.
    AnalyticsService(DefaultsStorePtr defaults, ClockPtr clock, ServerHTTPClient client, ClientInfo info,
                     DefaultsStorePtr queueStore = {});

    void track(const QString& event, const QMap<QString, QString>& metadata, bool enabled,
               const QString& endpoint) override;
    QString anonymousId() const override { return m_anonymousId; }
    const ClientInfo& clientInfo() const { return m_info; }

    // Finishes when everything queued so far has been tried once (at once
    // when disabled, without a valid endpoint or with nothing queued).
    QFuture<void> flush(const QString& endpoint, bool enabled);
    // For a short process (the command line): events start no flush.
    void setShortLivedProcess(bool shortLived) { m_deferSends = shortLived; }
    // Whether flushDeferred would post: an event was queued by a short
    // process, and its host is not held back.
    bool hasDeferredFlush() const;
    // Flushes to the endpoint of the last event a short process queued; at
    // once when there was none.
    QFuture<void> flushDeferred();
    // See StoredQueue::claimSending.
    std::shared_ptr<void> claimSending() const { return m_queue.claimSending(); }
    bool isFlushing() const { return m_flusher.isRunning(); }
    // Finishes when the running flush ends (at once when none runs); starts none.
    QFuture<void> whenIdle() { return m_flusher.whenIdle(); }
    void setPostTimeout(std::chrono::milliseconds timeout) { m_flusher.setTimeout(timeout); }

    AnalyticsEventList loadQueue() const { return m_queue.load(); }
    bool saveQueue(const AnalyticsEventList& events) const { return m_queue.save(events); }

private:
    static QString loadOrCreateId(DefaultsStore& defaults);
    static DefaultsStorePtr movedQueue(const DefaultsStorePtr& defaults, DefaultsStorePtr queueStore);

    ClockPtr m_clock;
    ClientInfo m_info;
    QString m_anonymousId;
    StoredQueue<AnalyticsEvent> m_queue;
    QueueFlusher<AnalyticsEvent> m_flusher;
    bool m_deferSends = false;
    QString m_deferredEndpoint;
};

using AnalyticsServicePtr = std::shared_ptr<AnalyticsService>;
