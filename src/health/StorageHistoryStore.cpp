#include "StorageHistoryStore.h"

#include "model/ReferenceDate.h"
#include "platform/StoredNumbers.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

QJsonObject StorageEvent::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("id"), id.toString(QUuid::WithoutBraces).toUpper());
    o.insert(QLatin1String("date"), date);
    o.insert(QLatin1String("bytesFreed"), bytesFreed);
    o.insert(QLatin1String("action"), action);
    o.insert(QLatin1String("itemCount"), itemCount);
    return o;
}

std::optional<StorageEvent> StorageEvent::fromJson(const QJsonObject& o)
{
    const QJsonValue id = o.value(QLatin1String("id"));
    const QJsonValue date = o.value(QLatin1String("date"));
    const QJsonValue bytes = o.value(QLatin1String("bytesFreed"));
    const QJsonValue action = o.value(QLatin1String("action"));
    const QJsonValue count = o.value(QLatin1String("itemCount"));
    if (!id.isString() || !date.isDouble() || !bytes.isDouble() || !action.isString() || !count.isDouble()) {
        return std::nullopt;
    }
    const QUuid uuid = QUuid::fromString(id.toString());
    const double b = bytes.toDouble();
    const double c = count.toDouble();
    if (uuid.isNull() || !StoredNumbers::isCount(b) || !StoredNumbers::isCount(c)
        || !StoredNumbers::isReferenceDate(date.toDouble())) {
        return std::nullopt;
    }
    return StorageEvent{uuid, date.toDouble(), bytes.toInteger(qint64(b)), action.toString(),
                        count.toInteger(qint64(c))};
}

StorageHistoryStore::StorageHistoryStore(QString key, int maxEvents, DefaultsStorePtr defaults, ClockPtr clock)
    : m_key(std::move(key))
    , m_maxEvents(maxEvents)
    , m_defaults(std::move(defaults))
    , m_clock(std::move(clock))
{
}

QList<StorageEvent> StorageHistoryStore::load() const
{
    const std::optional<QByteArray> stored = m_defaults->data(m_key);
    if (!stored) {
        return {};
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(*stored, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray()) {
        return {};
    }
    QList<StorageEvent> events;
    for (const QJsonValue& value : doc.array()) {
        const std::optional<StorageEvent> event = value.isObject() ? StorageEvent::fromJson(value.toObject())
                                                                   : std::nullopt;
        if (!event) {
            return {};
        }
        events.append(*event);
    }
    return events;
}

void StorageHistoryStore::record(qint64 bytesFreed, const QString& action, qint64 itemCount) const
{
    QList<StorageEvent> events = load();
    events.prepend(StorageEvent{QUuid::createUuid(), ReferenceDate::fromDateTime(m_clock->now()), bytesFreed, action,
                                itemCount});
    if (events.size() > m_maxEvents) {
        events.resize(m_maxEvents);
    }
    QJsonArray array;
    for (const StorageEvent& event : events) {
        array.append(event.toJson());
    }
    m_defaults->setData(m_key, QJsonDocument(array).toJson(QJsonDocument::Compact));
}

StorageStats StorageHistoryStore::stats() const
{
    StorageStats stats;
    const QList<StorageEvent> events = load();
    for (const StorageEvent& event : events) {
        stats.totalFreed = StoredNumbers::add(stats.totalFreed, event.bytesFreed);
    }
    stats.eventCount = events.size();
    if (!events.isEmpty()) {
        stats.lastEvent = events.first();
    }
    return stats;
}
