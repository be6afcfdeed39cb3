#pragma once

#include "app/AppEnvironment.h"
#include "app/ProcessServices.h"

#include <QHash>
#include <QStringList>

#include <functional>
#include <optional>

class Console;

// What one run of a command gets: its arguments as the dispatcher parsed
// them, the console, what the process made once (the transport to the
// maker's server among them), and the environment the application state is
// built on.
class CommandCall
{
public:
    using EnvironmentFactory = std::function<AppEnvironment(const ProcessServices&)>;

    // options maps each option given to its value (empty for a flag).
    CommandCall(QStringList positionals, QHash<QString, QString> options, Console& console,
                const ProcessServices& process, EnvironmentFactory environment);

    const QStringList& positionals() const { return m_positionals; }
    // name without the dashes ("json").
    bool isSet(const QString& name) const { return m_options.contains(name); }
    bool json() const { return isSet(QStringLiteral("json")); }
    std::optional<QString> value(const QString& name) const;
    Console& console() const { return m_console; }
    const ProcessServices& process() const { return m_process; }
    // A fresh environment made from process: the machine's own in the program.
    AppEnvironment environment() const { return m_environment(m_process); }

private:
    QStringList m_positionals;
    QHash<QString, QString> m_options;
    Console& m_console;
    const ProcessServices& m_process;
    EnvironmentFactory m_environment;
};
