#pragma once

#include "FakeClock.h"
#include "fans/FanTimer.h"

#include <QList>

#include <algorithm>
#include <optional>

// Timers for the fan service on a fake clock: advance() moves the clock on
// and fires, in the order of their times, the timers whose time comes.
class FakeFanTimers
{
public:
    FanTimer::Factory factory()
    {
        return [this](std::chrono::milliseconds interval, std::function<void()> fire) -> std::unique_ptr<FanTimer> {
            return std::make_unique<Timer>(*this, interval, std::move(fire));
        };
    }
    void advance(std::chrono::milliseconds step)
    {
        const QDateTime end = m_clock.now().addMSecs(step.count());
        for (;;) {
            Timer* next = nullptr;
            for (Timer* timer : std::as_const(m_timers)) {
                if (timer->due && *timer->due <= end && (!next || *timer->due < *next->due))
                    next = timer;
            }
            if (!next)
                break;
            m_clock.setNow(*next->due);
            next->due.reset();
            next->fire();
        }
        m_clock.setNow(end);
    }
    // Timers started and neither fired nor stopped.
    int armed() const
    {
        return int(std::count_if(m_timers.begin(), m_timers.end(), [](const Timer* timer) { return timer->due.has_value(); }));
    }

private:
    struct Timer : FanTimer
    {
        Timer(FakeFanTimers& owner, std::chrono::milliseconds interval, std::function<void()> fire)
            : owner(owner)
            , interval(interval)
            , fire(std::move(fire))
        {
            owner.m_timers.append(this);
        }
        ~Timer() override { owner.m_timers.removeOne(this); }
        void start() override { due = owner.m_clock.now().addMSecs(interval.count()); }
        void stop() override { due.reset(); }
        FakeFanTimers& owner;
        std::chrono::milliseconds interval;
        std::function<void()> fire;
        std::optional<QDateTime> due;
    };

    FakeClock m_clock{QDateTime(QDate(2026, 3, 14), QTime(6, 30), Qt::UTC)};
    QList<Timer*> m_timers;
};
