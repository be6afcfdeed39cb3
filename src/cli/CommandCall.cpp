#include "CommandCall.h"

CommandCall::CommandCall(QStringList positionals, QHash<QString, QString> options, Console& console,
                         const ProcessServices& process, EnvironmentFactory environment)
    : m_positionals(std::move(positionals))
    , m_options(std::move(options))
    , m_console(console)
    , m_process(process)
    , m_environment(std::move(environment))
{
}

std::optional<QString> CommandCall::value(const QString& name) const
{
    const auto it = m_options.constFind(name);
    if (it == m_options.constEnd()) {
        return std::nullopt;
    }
    return *it;
}
