#include "RateLimitGate.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdio>

namespace {

// Beyond this many failures the back-off is at its cap anyway.
constexpr int maxCountedFailures = 16;

qint64 backoffSeconds(int failures)
{
    const int doublings = std::clamp(failures, 1, maxCountedFailures) - 1;
    return std::min(RateLimitGate::firstBackoffSeconds << doublings, RateLimitGate::maxBackoffSeconds);
}

} // namespace

RateLimitGate::RateLimitGate(ClockPtr clock)
    : m_clock(std::move(clock))
{
}

bool RateLimitGate::isBlocked(const QString& key)
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_blockedUntil.find(key);
    if (it == m_blockedUntil.end()) {
        return false;
    }
    if (m_clock->now() < *it) {
        return true;
    }
    m_blockedUntil.erase(it);
    return false;
}

void RateLimitGate::block(const QString& key, double seconds)
{
    const qint64 milliseconds = std::isfinite(seconds) ? qint64(std::llround(std::max(seconds, 0.0) * 1000.0)) : 0;
    QMutexLocker lock(&m_mutex);
    m_blockedUntil.insert(key, m_clock->now().addMSecs(milliseconds));
}

void RateLimitGate::persistIn(DefaultsStorePtr store)
{
    QMutexLocker lock(&m_mutex);
    m_store = std::move(store);
    if (!m_store) {
        return;
    }
    const QHash<QString, Backoff> stored = decode(m_store->data(backoffKey).value_or(QByteArray()), m_clock->now());
    for (auto it = stored.constBegin(); it != stored.constEnd(); ++it) {
        const auto known = m_backoffs.constFind(it.key());
        if (known == m_backoffs.constEnd() || known->retryAt < it->retryAt) {
            m_backoffs.insert(it.key(), it.value());
        }
    }
}

bool RateLimitGate::isBackingOff(const QString& key)
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_backoffs.constFind(key);
    // The entry stays after its time: the next failure doubles from it.
    return it != m_backoffs.constEnd() && m_clock->now() < it->retryAt;
}

void RateLimitGate::recordUnreachable(const QString& key)
{
    std::deque<SlotWaiter> refused;
    {
        QMutexLocker lock(&m_mutex);
        const QDateTime now = m_clock->now();
        Backoff& backoff = m_backoffs[key];
        // Posts that were already under way when the first of them failed
        // are one attempt, not several.
        if (!(now < backoff.retryAt)) {
            backoff.failures = std::min(backoff.failures + 1, maxCountedFailures);
            backoff.retryAt = now.addSecs(backoffSeconds(backoff.failures));
            store(key);
        }
        refused = takeWaiters(key);
    }
    for (const SlotWaiter& waiter : refused) {
        waiter(false);
    }
}

void RateLimitGate::recordAnswered(const QString& key)
{
    QMutexLocker lock(&m_mutex);
    m_answered.insert(key);
    if (m_backoffs.remove(key) > 0) {
        store(key);
    }
}

void RateLimitGate::acquireSlot(const QString& key, SlotWaiter waiter)
{
    {
        QMutexLocker lock(&m_mutex);
        Slots& slots = m_slots[key];
        const int limit = m_answered.contains(key) ? maxPostsPerHost : 1;
        if (slots.inFlight >= limit) {
            slots.waiting.push_back(std::move(waiter));
            return;
        }
        ++slots.inFlight;
    }
    waiter(true);
}

void RateLimitGate::releaseSlot(const QString& key)
{
    std::deque<SlotWaiter> granted;
    {
        QMutexLocker lock(&m_mutex);
        Slots& slots = m_slots[key];
        slots.inFlight = std::max(0, slots.inFlight - 1);
        const int limit = m_answered.contains(key) ? maxPostsPerHost : 1;
        while (slots.inFlight < limit && !slots.waiting.empty()) {
            granted.push_back(std::move(slots.waiting.front()));
            slots.waiting.pop_front();
            ++slots.inFlight;
        }
    }
    for (const SlotWaiter& waiter : granted) {
        waiter(true);
    }
}

QStringList RateLimitGate::abandonUnanswered()
{
    QStringList hosts;
    {
        QMutexLocker lock(&m_mutex);
        for (auto it = m_slots.constBegin(); it != m_slots.constEnd(); ++it) {
            if (it->inFlight > 0 && !m_answered.contains(it.key())) {
                hosts.append(it.key());
            }
        }
    }
    for (const QString& host : hosts) {
        recordUnreachable(host);
    }
    return hosts;
}

std::deque<RateLimitGate::SlotWaiter> RateLimitGate::takeWaiters(const QString& key)
{
    std::deque<SlotWaiter> waiters;
    const auto it = m_slots.find(key);
    if (it != m_slots.end()) {
        waiters.swap(it->waiting);
    }
    return waiters;
}

void RateLimitGate::store(const QString& key)
{
    if (!m_store) {
        return;
    }
    QHash<QString, Backoff> stored = decode(m_store->data(backoffKey).value_or(QByteArray()), m_clock->now());
    const auto it = m_backoffs.constFind(key);
    if (it == m_backoffs.constEnd()) {
        stored.remove(key);
    } else {
        stored.insert(key, it.value());
    }
    // A failed write leaves the previous value; the back-off still holds in this process.
    m_store->setData(backoffKey, encode(stored));
}

QDateTime RateLimitGate::retryTime(const QString& text)
{
    // The form encode writes is read here: Qt's general date parser costs
    // every command more than the rest of the gate.
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, milliseconds = 0, end = 0;
    if (text.size() == 24
        && std::sscanf(text.toLatin1().constData(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ%n", &year, &month, &day, &hour, &minute,
                       &second, &milliseconds, &end)
               == 7
        && end == 24) {
        const QDate date(year, month, day);
        const QTime time(hour, minute, second, milliseconds);
        if (date.isValid() && time.isValid()) {
            return QDateTime(date, time, Qt::UTC);
        }
    }
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

QHash<QString, RateLimitGate::Backoff> RateLimitGate::decode(const QByteArray& stored, const QDateTime& now)
{
    QHash<QString, Backoff> backoffs;
    const QJsonObject object = QJsonDocument::fromJson(stored).object();
    const QDateTime latest = now.addSecs(maxBackoffSeconds);
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const QJsonObject entry = it.value().toObject();
        const int failures = entry.value(QLatin1String("failures")).toInt(0);
        const QDateTime retryAt = retryTime(entry.value(QLatin1String("retryAt")).toString());
        if (failures < 1 || !retryAt.isValid() || retryAt > latest) {
            continue;
        }
        backoffs.insert(it.key(), Backoff{std::min(failures, maxCountedFailures), retryAt});
    }
    return backoffs;
}

QByteArray RateLimitGate::encode(const QHash<QString, Backoff>& backoffs)
{
    QJsonObject object;
    for (auto it = backoffs.constBegin(); it != backoffs.constEnd(); ++it) {
        object.insert(it.key(), QJsonObject{{QStringLiteral("failures"), it->failures},
                                            {QStringLiteral("retryAt"), it->retryAt.toUTC().toString(Qt::ISODateWithMs)}});
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
