#pragma once

#include "SelectedRowsCommand.h"

// brisko clean CATEGORY [--only NAME…] [--json]: deletes the selected cache
// rows of a fresh scan that may be deleted without asking.
class CleanCommand : public SelectedRowsCommand
{
public:
    using SelectedRowsCommand::SelectedRowsCommand;

    QString name() const override;
    QString summary() const override;

protected:
    CommandResult act(CliSession& session, const ScanSelection& selection, Console& console) override;
    QString operationDetails() const override;
};
