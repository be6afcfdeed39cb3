#include "RateLimitGate.h"

#include <cmath>

RateLimitGate::RateLimitGate(ClockPtr clock)
    : m_clock(std::move(clock))
{
}

std::shared_ptr<RateLimitGate> RateLimitGate::shared()
{
    static const std::shared_ptr<RateLimitGate> gate = std::make_shared<RateLimitGate>(std::make_shared<SystemClock>());
    return gate;
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
