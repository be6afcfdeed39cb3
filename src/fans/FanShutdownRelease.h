#pragma once

#include "FanStatus.h"
#include "SMCFanProfile.h"
#include "SmcMachine.h"

#include <QMutex>

#include <memory>

// The last known fans and the way to hand them back to the system directly,
// usable from any thread: the fan service keeps it current, and the
// termination paths (quit, signals) release through it without going near
// the helper.
class FanShutdownRelease
{
public:
    FanShutdownRelease(SmcMachine machine, SMCFanProfile::WriteStrategy strategy);

    void setFans(const FanStatusList& fans);
    FanStatusList fans() const;

    // The direct release batch for the last known fans; false when there are
    // none or nothing could be written. Blocks.
    bool releaseNow() const;

private:
    const SmcMachine m_machine;
    const SMCFanProfile::WriteStrategy m_strategy;
    mutable QMutex m_mutex;
    FanStatusList m_fans;
};

using FanShutdownReleasePtr = std::shared_ptr<FanShutdownRelease>;
