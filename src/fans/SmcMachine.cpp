#include "SmcMachine.h"

#include "ApplesmcTransport.h"
#include "platform/PlatformSystemFacts.h"

SmcMachine SmcMachine::platform()
{
    SmcMachine machine;
    machine.clock = std::make_shared<SystemPausingClock>();
    machine.transport = std::make_shared<ApplesmcTransport>();
    machine.modelIdentifier = PlatformSystemFacts().string(QStringLiteral("hw.model"));
    return machine;
}
