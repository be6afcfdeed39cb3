#pragma once

#include <QString>

// What a command hands back to the dispatcher. A usage error carries its
// message; the dispatcher prints it together with the command's usage line so
// that every command reports bad arguments the same way.
struct CommandResult
{
    enum ExitCode { success = 0, failure = 1, usage = 2 };

    int exitCode = success;
    QString usageMessage;

    static CommandResult ok() { return {}; }
    static CommandResult failed() { return {failure, {}}; }
    static CommandResult usageError(QString message) { return {usage, std::move(message)}; }
};
