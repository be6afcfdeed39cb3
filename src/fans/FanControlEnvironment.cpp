#include "FanControlEnvironment.h"

FanControlEnvironment FanControlEnvironment::platform(ErrorReportSinkPtr errors)
{
    FanControlEnvironment env;
    env.machine = SmcMachine::fromEnvironment();
    env.fanProfile = SMCFanProfile::current();
    env.hardwareKind = SMCHardwareProfile::current();
    env.runner = std::make_shared<SMCFanPrivilegedRunner>(SMCFanPrivilegedRunner::platformConfig());
    env.errors = std::move(errors);
    env.termination = &TerminationFlag::process();
    env.runtimeRisk = &AppRuntimeGuard::currentRisk;
    return env;
}
