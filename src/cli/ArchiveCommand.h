#pragma once

#include "CliCommand.h"

class CliSession;

// brisko archive create PROFILE | list | restore ID [--json]: clean archives
// of a data profile in the archive folder, and their restore into the home
// folder (never over anything that is there).
class ArchiveCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;

private:
    static CommandResult create(CliSession& session, const QString& profile, bool json, Console& console);
    static CommandResult list(CliSession& session, bool json, Console& console);
    static CommandResult restore(CliSession& session, const QString& id, bool json, Console& console);
};
