#pragma once

#include "CliCommand.h"

// brisko history [--json]: the stored history of freed space and its totals.
class HistoryCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;
};
