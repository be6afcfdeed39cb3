#pragma once

#include "CliCommand.h"
#include "CommandCall.h"

#include <QStringList>

class Console;
class QCommandLineParser;

// Picks the command named by the first argument, parses the rest as the
// command describes them and runs it; answers help and version requests
// itself. Exit codes: 0 success, 1 refused or failed, 2 usage error (message
// and usage text on standard error), 130 stopped by Ctrl+C.
class CommandDispatcher
{
public:
    // process: what the program made once, handed to every command and to
    // environment, which makes the environment of each run.
    CommandDispatcher(Console& console, QList<CliCommand> commands, ProcessServices process,
                      CommandCall::EnvironmentFactory environment = &AppEnvironment::platform);

    // arguments excludes the program name.
    int run(const QStringList& arguments);

    QString usageText() const;
    static QString versionText();

private:
    const CliCommand* find(const QString& name) const;
    int runCommand(const CliCommand& command, const QStringList& words);
    int help(const QStringList& topics);
    int usageError(const QString& message, const CliCommand* command);
    static QString usageLine(const CliCommand& command);
    static QString parseError(const QCommandLineParser& parser, const QStringList& words, const CliCommand& command);

    Console& m_console;
    QList<CliCommand> m_commands;
    ProcessServices m_process;
    CommandCall::EnvironmentFactory m_environment;
};
