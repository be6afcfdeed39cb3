#pragma once

#include "CliCommand.h"

#include <QFuture>

#include <functional>

class AppState;
class CliSession;
class ScanSelection;

// The commands that act on rows of a fresh scan (move, trash, clean): they
// share the arguments, the scan and the selection, and differ in the
// operation of the application state they call.
class SelectedRowsCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString synopsis() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) final;

protected:
    // Runs the operation on the rows selected in session's state and prints
    // its outcome.
    virtual CommandResult act(CliSession& session, const ScanSelection& selection, Console& console) = 0;
    // What this command does with the selected rows, for the help text.
    virtual QString operationDetails() const = 0;

    // For the operations that remove rows (Trash, cleanup): taken is the
    // number of rows the operation will process. Each of them is either
    // removed or reported as failed, and the bytes freed are those of the
    // history event the operation records.
    static CommandResult removeRows(CliSession& session, const ScanSelection& selection, Console& console,
                                    qint64 taken, const std::function<QFuture<void>(AppState&)>& start);
};
