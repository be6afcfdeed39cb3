#pragma once

#include "platform/Clock.h"

#include <chrono>
#include <memory>
#include <thread>

// A clock the SMC procedures also wait on, so that their pauses of a tenth
// of a second (and the unlock's seconds of waiting) cost nothing in tests.
class PausingClock : public Clock
{
public:
    virtual void pause(std::chrono::milliseconds duration) const = 0;
};

class SystemPausingClock : public PausingClock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
    void pause(std::chrono::milliseconds duration) const override { std::this_thread::sleep_for(duration); }
};

using PausingClockPtr = std::shared_ptr<const PausingClock>;
