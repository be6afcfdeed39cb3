#pragma once

#include "fans/PausingClock.h"

#include <QMutex>

#include <atomic>

// A clock whose pauses return at once and move its time forward by the
// pause, so the SMC procedures' waiting costs nothing and can be measured.
class FakePausingClock : public PausingClock
{
public:
    explicit FakePausingClock(QDateTime start = QDateTime(QDate(2026, 3, 14), QTime(6, 30), Qt::UTC))
        : m_now(std::move(start))
    {
    }

    QDateTime now() const override
    {
        const QMutexLocker lock(&m_mutex);
        return m_now;
    }
    void pause(std::chrono::milliseconds duration) const override
    {
        const QMutexLocker lock(&m_mutex);
        m_now = m_now.addMSecs(duration.count());
        m_paused += duration.count();
        ++m_pauses;
    }
    qint64 pausedMs() const { return m_paused; }
    int pauses() const { return m_pauses; }

private:
    mutable QMutex m_mutex;
    mutable QDateTime m_now;
    mutable std::atomic<qint64> m_paused = 0;
    mutable std::atomic<int> m_pauses = 0;
};
