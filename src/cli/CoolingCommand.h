#pragma once

#include "CliCommand.h"

#include <QFuture>

struct CoolingSnapshot;

// brisko cooling [--json]: one reading of temperatures and fans, as the
// cooling screen shows it.
class CoolingCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;

    // The reading as text: temperatures, fans, the note.
    static QString describe(const CoolingSnapshot& snapshot);
    // Runs the event loop until the future has finished: the fan service
    // publishes through queued calls on this thread.
    static void waitFor(const QFuture<void>& future);
};
