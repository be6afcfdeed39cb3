#include "CommandArguments.h"

std::optional<CommandArguments> CommandArguments::parse(const QStringList& arguments, const QSet<QString>& flags,
                                                        const QSet<QString>& valued, QString* error)
{
    CommandArguments parsed;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            parsed.m_positionals.append(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        const QString option = equals < 0 ? argument : argument.left(equals);
        if (flags.contains(option)) {
            if (equals >= 0) {
                *error = QStringLiteral("параметр %1 не принимает значения").arg(option);
                return std::nullopt;
            }
            parsed.m_flags.insert(option);
            continue;
        }
        if (valued.contains(option)) {
            if (equals >= 0) {
                parsed.m_values.insert(option, argument.mid(equals + 1));
                continue;
            }
            if (i + 1 >= arguments.size()) {
                *error = QStringLiteral("параметру %1 нужно значение").arg(option);
                return std::nullopt;
            }
            parsed.m_values.insert(option, arguments.at(++i));
            continue;
        }
        *error = QStringLiteral("неизвестный параметр %1").arg(option);
        return std::nullopt;
    }
    return parsed;
}

bool CommandArguments::asksForHelp(const QStringList& arguments)
{
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--")) {
            return false;
        }
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            return true;
        }
    }
    return false;
}

std::optional<QString> CommandArguments::value(const QString& option) const
{
    const auto it = m_values.constFind(option);
    if (it == m_values.constEnd()) {
        return std::nullopt;
    }
    return *it;
}

std::optional<CommandArguments> CommandArguments::parseFlagsOnly(const QStringList& arguments,
                                                                 const QSet<QString>& flags, QString* error)
{
    std::optional<CommandArguments> parsed = parse(arguments, flags, {}, error);
    if (parsed && !parsed->positionals().isEmpty()) {
        *error = QStringLiteral("лишний аргумент «%1»").arg(parsed->positionals().first());
        return std::nullopt;
    }
    return parsed;
}
