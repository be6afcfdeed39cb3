#pragma once

#include "CliCommand.h"

// brisko archive-folder PATH: makes PATH the archive folder, as choosing it
// in the window's folder dialog does.
class ArchiveFolderCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;
};
