#pragma once

#include "CliCommand.h"

// brisko hardware [--json]: the machine description used by the health
// screen and the feedback form.
class HardwareCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;
};
