#pragma once

#include "CliCommand.h"

// brisko usage: where the space of a folder went, largest first, with the
// classifier's verdict on cache folders.
class UsageCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;
};
