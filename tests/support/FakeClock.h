#pragma once

#include "platform/Clock.h"

#include <QMutex>

class FakeClock : public Clock
{
public:
    explicit FakeClock(QDateTime now = QDateTime::currentDateTime())
        : m_now(std::move(now))
    {
    }

    QDateTime now() const override
    {
        QMutexLocker lock(&m_mutex);
        return m_now;
    }
    void setNow(const QDateTime& now)
    {
        QMutexLocker lock(&m_mutex);
        m_now = now;
    }
    void advance(qint64 seconds)
    {
        QMutexLocker lock(&m_mutex);
        m_now = m_now.addSecs(seconds);
    }

private:
    mutable QMutex m_mutex;
    QDateTime m_now;
};
