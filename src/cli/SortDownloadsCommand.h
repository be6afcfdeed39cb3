#pragma once

#include "CliCommand.h"

// brisko sort-downloads [--json]: files the loose files of ~/Downloads into
// the buckets of Downloads/_Sorted, as the window's sorter does.
class SortDownloadsCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;
};
