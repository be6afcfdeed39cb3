#pragma once

#include "CliCommand.h"

// brisko undo [--json]: moves the items of the last move back to where they were.
class UndoCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;
};
