#include "CliCommand.h"

QString CliCommand::synopsis() const
{
    QStringList parts;
    if (!arguments.isEmpty()) {
        parts.append(arguments);
    }
    for (const CliOption& option : options) {
        parts.append(QStringLiteral("[--") + option.name
                     + (option.valueName.isEmpty() ? QString() : QLatin1Char(' ') + option.valueName) + QLatin1Char(']'));
    }
    return parts.join(QLatin1Char(' '));
}
