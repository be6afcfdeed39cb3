#pragma once

#include "FanStatus.h"
#include "SMCFanProfile.h"
#include "SmcMachine.h"

// The two direct write batches: every fan to a percentage of its range, and
// every fan back to the system. Each opens its own connection and closes it
// before returning; each blocks (manual-mode retries, up to 10 s of unlock
// waiting per fan), so they run off the main thread.
class SMCFanWriter
{
public:
    // minimum + truncate(clamp(percent, 0, 100) / 100 × (maximum − minimum));
    // a percentage that is not a number counts as 0.
    static int targetRPM(const FanStatus& fan, double percent);

    // True when at least one fan's target was written. Fans without a speed
    // range, a mode key or a target key, or that refuse manual mode, are
    // skipped.
    static bool setAllFansTarget(const SmcMachine& machine, SMCFanProfile::WriteStrategy strategy,
                                 const FanStatusList& fans, double percent);
    // True when any fan (or, on unlock machines, the "Ftst" hand-back)
    // succeeded.
    static bool releaseFans(const SmcMachine& machine, SMCFanProfile::WriteStrategy strategy,
                            const FanStatusList& fans);
};
