#pragma once

#include "SelectedRowsCommand.h"

// brisko move CATEGORY [--only NAME…] [--json]: moves the selected rows of a
// fresh scan into the archive folder of the settings, to be undone with
// brisko undo.
class MoveCommand : public SelectedRowsCommand
{
public:
    using SelectedRowsCommand::SelectedRowsCommand;

    QString name() const override;
    QString summary() const override;

protected:
    CommandResult act(CliSession& session, const ScanSelection& selection, Console& console) override;
    QString operationDetails() const override;
};
