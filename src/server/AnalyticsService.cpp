#include "AnalyticsService.h"

#include <QUuid>

#include <utility>

AnalyticsService::AnalyticsService(DefaultsStorePtr defaults, ClockPtr clock, ServerHTTPClient client,
                                   ClientInfo info, DefaultsStorePtr queueStore)
    : m_clock(std::move(clock))
    , m_info(std::move(info))
    , m_anonymousId(loadOrCreateId(*defaults))
    , m_queue(movedQueue(defaults, std::move(queueStore)), queueKey, maxQueue)
    , m_flusher(m_queue, std::move(client))
{
}

DefaultsStorePtr AnalyticsService::movedQueue(const DefaultsStorePtr& defaults, DefaultsStorePtr queueStore)
{
    if (!queueStore || queueStore == defaults) {
        return defaults;
    }
    const std::optional<QByteArray> left = defaults->data(queueKey);
    if (!left) {
        return queueStore;
    }
    // The old events go first; any already moved by a run that ended before
    // it could clear the old place are not taken twice.
    const StoredQueue<AnalyticsEvent> before(defaults, queueKey, maxQueue);
    const StoredQueue<AnalyticsEvent> after(queueStore, queueKey, maxQueue);
    AnalyticsEventList events = before.load();
    for (const AnalyticsEvent& event : after.load()) {
        if (!events.contains(event)) {
            events.append(event);
        }
    }
    if (events.size() > maxQueue) {
        events.remove(0, events.size() - maxQueue);
    }
    // The old place is cleared only once the events are safely in the new
    // one; while the new one cannot be written, the queue stays where it was.
    if (!after.save(events)) {
        return defaults;
    }
    defaults->remove(queueKey);
    return queueStore;
}

QString AnalyticsService::loadOrCreateId(DefaultsStore& defaults)
{
    if (const std::optional<QByteArray> stored = defaults.data(anonymousIdKey)) {
        const QString text = QString::fromUtf8(*stored);
        // Anything but a UUID in its text form is unreadable and replaced.
        if (text.size() == 36 && !QUuid::fromString(text).isNull()) {
            return text;
        }
    }
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
    // If it cannot be stored it still serves this run.
    defaults.setData(anonymousIdKey, id.toUtf8());
    return id;
}

void AnalyticsService::track(const QString& event, const QMap<QString, QString>& metadata, bool enabled,
                             const QString& endpoint)
{
    if (!enabled) {
        return;
    }
    AnalyticsEvent record;
    record.anonymousId = m_anonymousId;
    record.event = event;
    record.appVersion = m_info.appVersion;
    record.build = m_info.build;
    record.osVersion = m_info.osVersion;
    record.timestamp = ClientInfo::timestamp(m_clock->now());
    record.metadata = metadata;
    m_queue.append(record);
    if (m_deferSends) {
        m_deferredEndpoint = endpoint;
    } else {
        flush(endpoint, true);
    }
}

bool AnalyticsService::hasDeferredFlush() const
{
    const QUrl url = HttpTransport::serverUrl(m_deferredEndpoint);
    return url.isValid() && m_flusher.wouldPost(url);
}

QFuture<void> AnalyticsService::flushDeferred()
{
    const QString endpoint = std::exchange(m_deferredEndpoint, QString());
    return endpoint.isEmpty() ? QtFuture::makeReadyFuture() : flush(endpoint, true);
}

QFuture<void> AnalyticsService::flush(const QString& endpoint, bool enabled)
{
    if (!enabled) {
        m_flusher.stop();
        return QtFuture::makeReadyFuture();
    }
    const QUrl url = HttpTransport::serverUrl(endpoint);
    if (!url.isValid()) {
        return QtFuture::makeReadyFuture();
    }
    return m_flusher.flush(url);
}
