#include "SmcHelperTool.h"

#include "fans/AppleSMC.h"
#include "fans/SMCFanWriter.h"
#include "fans/SMCSensorReader.h"

namespace {

// Digits only, no sign, no blanks, no leading zeros: one spelling per value.
std::optional<int> parsePercent(const QByteArray& text)
{
    if (text.isEmpty() || text.size() > 3 || (text.size() > 1 && text.at(0) == '0')) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value > 100) {
        return std::nullopt;
    }
    return value;
}

} // namespace

QString SmcHelperTool::usage()
{
    return QStringLiteral("Использование: brisko-smc-helper set-percent N (N — целое от 0 до 100) | "
                          "brisko-smc-helper auto");
}

std::optional<SmcHelperTool::Command> SmcHelperTool::parse(const QByteArrayList& arguments, QString* error)
{
    if (arguments.size() == 1 && arguments.at(0) == "auto") {
        return Command{Command::Kind::automatic, 0};
    }
    if (arguments.size() == 2 && arguments.at(0) == "set-percent") {
        if (const std::optional<int> percent = parsePercent(arguments.at(1))) {
            return Command{Command::Kind::setPercent, *percent};
        }
        *error = QStringLiteral("brisko-smc-helper: процент должен быть целым числом от 0 до 100.\n") + usage();
        return std::nullopt;
    }
    *error = QStringLiteral("brisko-smc-helper: неверные аргументы.\n") + usage();
    return std::nullopt;
}

int SmcHelperTool::run(const QByteArrayList& arguments, const SmcMachine& machine, QString* message)
{
    const std::optional<Command> command = parse(arguments, message);
    if (!command) {
        return exitUsage;
    }
    FanStatusList fans;
    {
        AppleSMC smc(machine.transport, machine.clock);
        if (!smc.open()) {
            *message = QStringLiteral("Не удалось открыть Apple SMC: драйвер applesmc не найден.");
            return exitFailed;
        }
        fans = SMCSensorReader::readFans(smc);
    }
    const SMCFanProfile profile = SMCFanProfile::detect(machine.modelIdentifier.value_or(QStringLiteral("unknown")));
    if (command->kind == Command::Kind::automatic) {
        // Nothing to hand back on a machine without fans.
        if (fans.isEmpty() || SMCFanWriter::releaseFans(machine, profile.strategy, fans)) {
            return exitSuccess;
        }
        *message = QStringLiteral("Не удалось выполнить запись в SMC: вентиляторы не вернулись под управление системы.");
        return exitFailed;
    }
    if (fans.isEmpty()) {
        *message = QStringLiteral("SMC не сообщил ни одного вентилятора.");
        return exitFailed;
    }
    if (!SMCFanWriter::setAllFansTarget(machine, profile.strategy, fans, command->percent)) {
        *message = QStringLiteral("Не удалось выполнить запись в SMC: вентиляторы не перешли в ручной режим.");
        return exitFailed;
    }
    return exitSuccess;
}
