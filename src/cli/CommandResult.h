#pragma once

#include <QString>

// What a command hands back to the dispatcher. A usage error carries its
// message; the dispatcher prints it together with the command's usage line so
// that every command reports bad arguments the same way.
struct CommandResult
{
    // interrupted: stopped by Ctrl+C before the work was done, the shells'
    // code for a program ended by SIGINT, so that scripts do not go on.
    enum ExitCode { success = 0, failure = 1, usage = 2, interrupted = 130 };

    int exitCode = success;
    QString usageMessage;

    static CommandResult ok() { return {}; }
    static CommandResult failed() { return {failure, {}}; }
    static CommandResult stopped() { return {interrupted, {}}; }
    static CommandResult usageError(QString message) { return {usage, std::move(message)}; }
};
