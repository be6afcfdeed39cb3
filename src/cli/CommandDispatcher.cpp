#include "CommandDispatcher.h"

#include "CommandArguments.h"
#include "Console.h"
#include "scan/AppInfo.h"

namespace {
const QString programName = QStringLiteral("brisko");
}

CommandDispatcher::CommandDispatcher(Console& console)
    : m_console(console)
{
}

void CommandDispatcher::add(std::unique_ptr<CliCommand> command)
{
    m_commands.push_back(std::move(command));
}

CliCommand* CommandDispatcher::find(const QString& name) const
{
    for (const std::unique_ptr<CliCommand>& command : m_commands) {
        if (command->name() == name) {
            return command.get();
        }
    }
    return nullptr;
}

QString CommandDispatcher::usageLine(const CliCommand& command)
{
    return programName + QLatin1Char(' ') + command.name() + QLatin1Char(' ') + command.synopsis();
}

QString CommandDispatcher::usageText() const
{
    QString text = QStringLiteral("Использование: %1 КОМАНДА [АРГУМЕНТЫ]\n\nКоманды:\n").arg(programName);
    for (const std::unique_ptr<CliCommand>& command : m_commands) {
        text += QStringLiteral("  ") + usageLine(*command) + QLatin1Char('\n');
        text += QStringLiteral("      ") + command->summary() + QLatin1Char('\n');
    }
    text += QStringLiteral("\n  %1 help [КОМАНДА]    справка\n  %1 --version         версия программы\n\n"
                           "Коды выхода: 0 — успешно, 1 — операция отклонена или с ошибками, "
                           "2 — неверные аргументы.\n")
                .arg(programName);
    return text;
}

QString CommandDispatcher::versionText()
{
    const QString name = AppInfo::bundleString(QStringLiteral("CFBundleName")).value_or(QStringLiteral("Brisko Vella"));
    const QString version = AppInfo::bundleString(QStringLiteral("CFBundleShortVersionString")).value_or(QStringLiteral("?"));
    const QString build = AppInfo::bundleString(QStringLiteral("CFBundleVersion")).value_or(QStringLiteral("?"));
    return QStringLiteral("%1 %2 (%3)").arg(name, version, build);
}

int CommandDispatcher::run(const QStringList& arguments)
{
    if (arguments.isEmpty()) {
        return usageError(QStringLiteral("не указана команда"), nullptr);
    }
    const QString first = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (first == QLatin1String("help") || first == QLatin1String("--help") || first == QLatin1String("-h")) {
        return help(rest);
    }
    if (first == QLatin1String("--version") || first == QLatin1String("version")) {
        if (!rest.isEmpty()) {
            return usageError(QStringLiteral("лишние аргументы после %1").arg(first), nullptr);
        }
        m_console.outLine(versionText());
        return CommandResult::success;
    }
    CliCommand* command = find(first);
    if (!command) {
        return usageError(QStringLiteral("неизвестная команда «%1»").arg(first), nullptr);
    }
    if (CommandArguments::asksForHelp(rest)) {
        return help({first});
    }
    const CommandResult result = command->run(rest, m_console);
    if (result.exitCode == CommandResult::usage) {
        return usageError(result.usageMessage, command);
    }
    return result.exitCode;
}

int CommandDispatcher::help(const QStringList& topics)
{
    if (topics.isEmpty()) {
        m_console.out(usageText());
        return CommandResult::success;
    }
    if (topics.size() > 1) {
        return usageError(QStringLiteral("справка показывается для одной команды"), nullptr);
    }
    const CliCommand* command = find(topics.first());
    if (!command) {
        return usageError(QStringLiteral("неизвестная команда «%1»").arg(topics.first()), nullptr);
    }
    QString text = QStringLiteral("Использование: ") + usageLine(*command) + QLatin1Char('\n') + command->summary()
        + QLatin1Char('\n');
    if (!command->details().isEmpty()) {
        text += QLatin1Char('\n') + command->details();
        if (!text.endsWith(QLatin1Char('\n'))) {
            text += QLatin1Char('\n');
        }
    }
    m_console.out(text);
    return CommandResult::success;
}

int CommandDispatcher::usageError(const QString& message, const CliCommand* command)
{
    m_console.errLine(programName + QStringLiteral(": ") + message);
    if (command) {
        m_console.errLine(QStringLiteral("Использование: ") + usageLine(*command));
        m_console.errLine(QStringLiteral("Подробнее: %1 help %2").arg(programName, command->name()));
    } else {
        m_console.err(QLatin1Char('\n') + usageText());
    }
    return CommandResult::usage;
}
