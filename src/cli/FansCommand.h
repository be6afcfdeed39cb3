#pragma once

#include "CliCommand.h"

// brisko fans boost PERCENT | brisko fans auto: the cooling screen's manual
// boost and its "return to system control", through the same write batches
// and privileged runner. A boost lasts as long as the command runs: it waits
// until it is interrupted (Ctrl+C, SIGTERM, SIGHUP) and then hands the fans
// back to the system.
class FansCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;

private:
    CommandResult boost(const QStringList& arguments, Console& console);
    CommandResult automatic(const QStringList& arguments, Console& console);
};
