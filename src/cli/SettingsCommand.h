#pragma once

#include "CliCommand.h"

// brisko settings get | set FIELD=VALUE…: reads and edits the persisted
// settings record through the application state.
class SettingsCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;

private:
    CommandResult get(const QStringList& arguments, Console& console) const;
    CommandResult set(const QStringList& assignments, Console& console) const;
};
