#pragma once

#include "CliCommand.h"

// brisko classify PATH [--home DIR]: the cache risk of one path, as every
// automatic deletion judges it.
class ClassifyCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;
};
