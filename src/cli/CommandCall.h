#pragma once

#include "app/AppEnvironment.h"

#include <QHash>
#include <QStringList>

#include <functional>
#include <optional>

class Console;

// What one run of a command gets: its arguments as the dispatcher parsed
// them, the console, and the environment the application state is built on.
class CommandCall
{
public:
    using EnvironmentFactory = std::function<AppEnvironment()>;

    // options maps each option given to its value (empty for a flag).
    CommandCall(QStringList positionals, QHash<QString, QString> options, Console& console,
                EnvironmentFactory environment);

    const QStringList& positionals() const { return m_positionals; }
    // name without the dashes ("json").
    bool isSet(const QString& name) const { return m_options.contains(name); }
    bool json() const { return isSet(QStringLiteral("json")); }
    std::optional<QString> value(const QString& name) const;
    Console& console() const { return m_console; }
    // A fresh environment: the machine's own in the program.
    AppEnvironment environment() const { return m_environment(); }

private:
    QStringList m_positionals;
    QHash<QString, QString> m_options;
    Console& m_console;
    EnvironmentFactory m_environment;
};
