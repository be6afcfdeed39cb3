#include "SmcMachine.h"

#include "ApplesmcTransport.h"
#include "SmcSimulator.h"
#include "platform/PlatformSystemFacts.h"

#include <atomic>
#include <cstdio>

std::optional<SmcMachine> SmcMachine::fromDescription(const QString& description, PausingClockPtr clock,
                                                      QString* error)
{
    SmcMachine machine;
    machine.clock = clock;
    if (description.isEmpty()) {
        return platform();
    }
    if (description == QLatin1String("none")) {
        return machine;
    }
    if (description.startsWith(QLatin1String("applesmc:"))) {
        machine.transport = std::make_shared<ApplesmcTransport>(description.mid(9));
        machine.modelIdentifier = PlatformSystemFacts(description.mid(9)).string(QStringLiteral("hw.model"));
        return machine;
    }
    if (description.startsWith(QLatin1String("sim:"))) {
        QStringList parts = description.mid(4).split(QLatin1Char(':'));
        const bool readonly = parts.size() == 2 && parts.at(1) == QLatin1String("readonly");
        if (parts.size() > 2 || (parts.size() == 2 && !readonly)) {
            *error = QStringLiteral("%1: после профиля допустимо только «:readonly»")
                         .arg(QLatin1String(environmentVariable));
            return std::nullopt;
        }
        std::shared_ptr<SmcSimulator> sim = SmcSimulator::create(parts.at(0), clock);
        if (!sim) {
            *error = QStringLiteral("%1: неизвестный профиль «%2»; есть %3")
                         .arg(QLatin1String(environmentVariable), parts.at(0),
                              SmcSimulator::profileNames().join(QStringLiteral(", ")));
            return std::nullopt;
        }
        sim->setWritesRefused(readonly);
        machine.modelIdentifier = sim->modelIdentifier();
        machine.transport = std::move(sim);
        return machine;
    }
    *error = QStringLiteral("%1: ожидается sim:ПРОФИЛЬ, applesmc:КОРЕНЬ или none, а не «%2»")
                 .arg(QLatin1String(environmentVariable), description);
    return std::nullopt;
}

SmcMachine SmcMachine::fromEnvironment()
{
    const QString description = qEnvironmentVariable(environmentVariable);
    QString error;
    const PausingClockPtr clock = std::make_shared<SystemPausingClock>();
    if (std::optional<SmcMachine> machine = fromDescription(description, clock, &error)) {
        return *machine;
    }
    // Several parts of a process ask; one warning is enough.
    static std::atomic<bool> warned = false;
    if (!warned.exchange(true)) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
    }
    SmcMachine none;
    none.clock = clock;
    return none;
}

std::optional<QString> SmcMachine::modelIdentifierFromEnvironment()
{
    return fromEnvironment().modelIdentifier;
}
