#pragma once

#include "CliCommand.h"

class CliSession;

// brisko safe-cleanup list|clean [--json]: the caches of well-known
// applications that may go without harm; clean deletes every one listed.
class SafeCleanupCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;

private:
    static CommandResult list(CliSession& session, bool json, Console& console);
    static CommandResult clean(CliSession& session, bool json, Console& console);
};
