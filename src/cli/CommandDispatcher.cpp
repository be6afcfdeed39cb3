#include "CommandDispatcher.h"

#include "Console.h"
#include "scan/AppInfo.h"

#include <QCommandLineParser>

namespace {

const QString programName = QStringLiteral("brisko");

// "--help" or "-h" anywhere before "--".
bool asksForHelp(const QStringList& words)
{
    for (const QString& word : words) {
        if (word == QLatin1String("--")) {
            return false;
        }
        if (word == QLatin1String("--help") || word == QLatin1String("-h")) {
            return true;
        }
    }
    return false;
}

// The option as typed ("--home" of "--home=x") and its name ("home").
QString typedOption(const QString& word)
{
    return word.section(QLatin1Char('='), 0, 0);
}

QString optionName(const QString& word)
{
    const QString typed = typedOption(word);
    return typed.mid(typed.startsWith(QLatin1String("--")) ? 2 : 1);
}

} // namespace

CommandDispatcher::CommandDispatcher(Console& console, QList<CliCommand> commands, ProcessServices process,
                                     CommandCall::EnvironmentFactory environment)
    : m_console(console)
    , m_commands(std::move(commands))
    , m_process(std::move(process))
    , m_environment(std::move(environment))
{
}

const CliCommand* CommandDispatcher::find(const QString& name) const
{
    for (const CliCommand& command : m_commands) {
        if (command.name == name) {
            return &command;
        }
    }
    return nullptr;
}

QString CommandDispatcher::usageLine(const CliCommand& command)
{
    return programName + QLatin1Char(' ') + command.name + QLatin1Char(' ') + command.synopsis();
}

QString CommandDispatcher::usageText() const
{
    QString text = QStringLiteral("Использование: %1 КОМАНДА [АРГУМЕНТЫ]\n\nКоманды:\n").arg(programName);
    for (const CliCommand& command : m_commands) {
        text += QStringLiteral("  ") + usageLine(command) + QLatin1Char('\n');
        text += QStringLiteral("      ") + command.summary + QLatin1Char('\n');
    }
    text += QStringLiteral("\n  %1 help [КОМАНДА]    справка\n  %1 --version         версия программы\n\n"
                           "Коды выхода: 0 — успешно, 1 — операция отклонена или с ошибками, "
                           "2 — неверные аргументы, 130 — остановлено по Ctrl+C.\n")
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
    const CliCommand* command = find(first);
    if (!command) {
        return usageError(QStringLiteral("неизвестная команда «%1»").arg(first), nullptr);
    }
    if (asksForHelp(rest)) {
        return help({first});
    }
    return runCommand(*command, rest);
}

int CommandDispatcher::runCommand(const CliCommand& command, const QStringList& words)
{
    QStringList positionals = words;
    QHash<QString, QString> given;
    if (!command.wordsOnly) {
        QCommandLineParser parser;
        // Every option is long; "-json" is taken for "--json", never for -j -s -o -n.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        for (const CliOption& option : command.options) {
            parser.addOption(QCommandLineOption(option.name, QString(),
                                                option.takesValue ? option.valueName : QString()));
        }
        if (!parser.parse(QStringList{programName} + words)) {
            return usageError(parseError(parser, words, command), &command);
        }
        positionals = parser.positionalArguments();
        if (command.arguments.isEmpty() && !positionals.isEmpty()) {
            return usageError(QStringLiteral("лишний аргумент «%1»").arg(positionals.first()), &command);
        }
        for (const CliOption& option : command.options) {
            if (parser.isSet(option.name)) {
                given.insert(option.name, option.takesValue ? parser.value(option.name) : QString());
            }
        }
    }
    const CommandResult result = command.run(CommandCall(positionals, given, m_console, m_process, m_environment));
    if (result.exitCode == CommandResult::usage) {
        return usageError(result.usageMessage, &command);
    }
    return result.exitCode;
}

QString CommandDispatcher::parseError(const QCommandLineParser& parser, const QStringList& words,
                                      const CliCommand& command)
{
    // The parser's own texts are English and name an unknown option without
    // its dashes; the user is told about the word as typed.
    const QStringList options = words.mid(0, words.indexOf(QStringLiteral("--")));
    const QStringList unknown = parser.unknownOptionNames();
    for (const QString& word : options) {
        if (word.startsWith(QLatin1Char('-')) && unknown.contains(optionName(word))) {
            return QStringLiteral("неизвестный параметр %1").arg(typedOption(word));
        }
    }
    for (const QString& word : options) {
        for (const CliOption& option : command.options) {
            if (!option.takesValue && word.contains(QLatin1Char('=')) && optionName(word) == option.name) {
                return QStringLiteral("параметр %1 не принимает значения").arg(typedOption(word));
            }
        }
    }
    // The one error left: a valued option as the last word.
    return QStringLiteral("параметру %1 нужно значение").arg(typedOption(options.isEmpty() ? QString() : options.last()));
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
    QString text = QStringLiteral("Использование: ") + usageLine(*command) + QLatin1Char('\n') + command->summary
        + QLatin1Char('\n');
    if (!command->details.isEmpty()) {
        text += QLatin1Char('\n') + command->details;
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
        m_console.errLine(QStringLiteral("Подробнее: %1 help %2").arg(programName, command->name));
    } else {
        m_console.err(QLatin1Char('\n') + usageText());
    }
    return CommandResult::usage;
}
