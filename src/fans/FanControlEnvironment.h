#pragma once

#include "SMCFanPrivilegedRunner.h"
#include "SMCFanProfile.h"
#include "SMCHardwareProfile.h"
#include "FanTimer.h"
#include "SmcMachine.h"
#include "TerminationFlag.h"
#include "model/AppRuntimeGuard.h"
#include "model/ErrorReportSink.h"

#include <chrono>
#include <functional>

// What the fan control service is built from. The program uses this
// machine's (or BRISKO_SMC's) SMC; tests hand in a simulator, a fake clock,
// a runner with a stand-in for pkexec, their own termination flag and timers
// on a fake clock.
struct FanControlEnvironment
{
    SmcMachine machine;
    SMCFanProfile fanProfile;
    SMCHardwareProfile::Kind hardwareKind = SMCHardwareProfile::Kind::unknown;
    // Null when there is no privileged way at all.
    SMCFanPrivilegedRunnerPtr runner;
    ErrorReportSinkPtr errors;
    TerminationFlag* termination = nullptr;
    std::function<AppRuntimeGuard::Risk()> runtimeRisk;
    std::chrono::milliseconds pollInterval{2000};
    std::chrono::milliseconds debounceInterval{400};
    FanTimer::Factory timers = FanTimer::eventLoop();

    // The SMC named by BRISKO_SMC (this machine's by default), its profiles,
    // the pkexec runner, the process-wide termination flag and the
    // install-location guard.
    static FanControlEnvironment platform(ErrorReportSinkPtr errors);
};
