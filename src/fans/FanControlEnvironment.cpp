#include "FanControlEnvironment.h"

namespace {

// The running machine's (or the simulated machine's) profile, judged once.
const SMCFanProfile& currentFanProfile()
{
    static const SMCFanProfile profile =
        SMCFanProfile::detect(SmcMachine::modelIdentifierFromEnvironment().value_or(QStringLiteral("unknown")));
    return profile;
}

} // namespace

FanControlEnvironment FanControlEnvironment::platform(ErrorReportSinkPtr errors)
{
    FanControlEnvironment env;
    env.machine = SmcMachine::fromEnvironment();
    env.fanProfile = currentFanProfile();
    env.hardwareKind = SMCHardwareProfile::current();
    env.runner = std::make_shared<SMCFanPrivilegedRunner>(SMCFanPrivilegedRunner::platformConfig());
    env.errors = std::move(errors);
    env.termination = &TerminationFlag::process();
    env.runtimeRisk = &AppRuntimeGuard::currentRisk;
    return env;
}
