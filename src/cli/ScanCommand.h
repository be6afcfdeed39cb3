#pragma once

#include "CliCommand.h"

class AppState;

// brisko scan CATEGORY [--json]: one category scan of the user's home folder
// through the application state, exactly as the window runs it.
class ScanCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;

private:
    static void printJson(const AppState& state, const QString& category, Console& console);
    static void printTable(const AppState& state, Console& console);
};
