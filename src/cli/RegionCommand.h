#pragma once

#include "CliCommand.h"

// brisko region [--json] [--offline]: one region check, as at launch.
class RegionCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;
};
