#pragma once

#include "CliCommand.h"

struct MacHealthSnapshot;

// brisko health [--json]: the quick health scan of the window's health
// panel — the score, the figures behind it and the advice lines.
class HealthCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;

private:
    static void printText(const MacHealthSnapshot& snapshot, Console& console);
};
