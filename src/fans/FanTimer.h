#pragma once

#include <chrono>
#include <functional>
#include <memory>

// A restartable one-shot timer of the fan service, on the service's thread:
// fires once, its interval after the last start, unless started again or
// stopped first. The program's run on the event loop; tests hand in timers
// that fire when their fake clock passes the time.
class FanTimer
{
public:
    using Factory =
        std::function<std::unique_ptr<FanTimer>(std::chrono::milliseconds interval, std::function<void()> fire)>;

    virtual ~FanTimer() = default;
    virtual void start() = 0;
    virtual void stop() = 0;

    static Factory eventLoop();
};
