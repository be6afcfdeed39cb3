#pragma once

#include "CliCommand.h"

#include <QFuture>

#include <functional>

class AppState;
class CliSession;
class Console;
class ScanSelection;

// The commands that act on rows of a fresh scan (move, trash, clean): they
// share the arguments, the scan and the selection, and differ in the
// operation of the application state they call.
class SelectedRowsCommand
{
public:
    // Runs the operation on the rows selected in session's state and prints
    // its outcome.
    using Act = std::function<CommandResult(CliSession& session, const ScanSelection& selection, Console& console)>;

    // operationDetails: what the command does with the selected rows, for
    // the help text.
    static CliCommand describe(const QString& name, const QString& summary, const QString& operationDetails, Act act);

    // For the operations that remove rows (Trash, cleanup): taken is the
    // number of rows the operation will process. Each of them is either
    // removed or reported as failed, and the bytes freed are those of the
    // history event the operation records.
    static CommandResult removeRows(CliSession& session, const ScanSelection& selection, Console& console,
                                    qint64 taken, const std::function<QFuture<void>(AppState&)>& start);
};
