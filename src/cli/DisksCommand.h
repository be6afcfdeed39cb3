#pragma once

#include "CliCommand.h"

// brisko disks [--json]: the mounted volumes as the dashboard lists them.
class DisksCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;
};
