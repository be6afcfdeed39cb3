#pragma once

#include "platform/Clock.h"

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QString>

#include <memory>

// Remembers, per host, until when the server asked us to stay away (status
// 429). Safe to use from any thread. Not persisted: a restart clears every
// block, and a block ends by time only.
class RateLimitGate
{
public:
    explicit RateLimitGate(ClockPtr clock);

    // The process's gate, on the system clock.
    static std::shared_ptr<RateLimitGate> shared();

    // False for an unknown key; an entry whose time has passed is removed.
    bool isBlocked(const QString& key);
    void block(const QString& key, double seconds);

private:
    QMutex m_mutex;
    ClockPtr m_clock;
    QHash<QString, QDateTime> m_blockedUntil;
};
