#pragma once

#include "CliCommand.h"

#include <QStringList>

#include <memory>
#include <vector>

class Console;

// Picks the command named by the first argument and runs it; answers help
// and version requests itself. Exit codes: 0 success, 1 refused or failed,
// 2 usage error (message and usage text on standard error).
class CommandDispatcher
{
public:
    explicit CommandDispatcher(Console& console);

    void add(std::unique_ptr<CliCommand> command);
    // arguments excludes the program name.
    int run(const QStringList& arguments);

    QString usageText() const;
    static QString versionText();

private:
    CliCommand* find(const QString& name) const;
    int help(const QStringList& topics);
    int usageError(const QString& message, const CliCommand* command);
    static QString usageLine(const CliCommand& command);

    Console& m_console;
    std::vector<std::unique_ptr<CliCommand>> m_commands;
};
