#pragma once

#include "SelectedRowsCommand.h"

// brisko trash CATEGORY [--only NAME…] [--json]: moves the selected rows of a
// fresh scan to the Trash.
class TrashCommand : public SelectedRowsCommand
{
public:
    using SelectedRowsCommand::SelectedRowsCommand;

    QString name() const override;
    QString summary() const override;

protected:
    CommandResult act(CliSession& session, const ScanSelection& selection, Console& console) override;
    QString operationDetails() const override;
};
