#pragma once

#include "CliCommand.h"

// brisko update check|download|install [--json] [--offline]: the update
// check of the maker's server, the verified download, and the installation
// into the per-user installation followed by a start of the new copy.
class UpdateCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;
};
