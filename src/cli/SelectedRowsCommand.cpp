#include "SelectedRowsCommand.h"

#include "CliSession.h"
#include "OperationReport.h"
#include "ScanSelection.h"

QString SelectedRowsCommand::synopsis() const
{
    return ScanSelection::synopsis();
}

QString SelectedRowsCommand::details() const
{
    return operationDetails() + QLatin1Char('\n') + ScanSelection::details();
}

CommandResult SelectedRowsCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<ScanSelection> selection = ScanSelection::parse(arguments, &error);
    if (!selection) {
        return CommandResult::usageError(error);
    }
    CliSession session(process(), selection->json() ? nullptr : &console);
    if (const std::optional<CommandResult> stop = selection->apply(session, console)) {
        return *stop;
    }
    return act(session, *selection, console);
}

CommandResult SelectedRowsCommand::removeRows(CliSession& session, const ScanSelection& selection, Console& console,
                                              qint64 taken, const std::function<QFuture<void>(AppState&)>& start)
{
    const CliSession::OperationRun run = session.run(start);
    if (!run.started) {
        return OperationReport::refused(session.state(), console);
    }
    const qint64 failed = run.errors.size();
    const qint64 freed = run.recorded ? run.recorded->bytesFreed : 0;
    std::optional<QJsonObject> json;
    if (selection.json()) {
        json = OperationReport::removal(taken - failed, failed, freed, run.errors);
        json->insert(QLatin1String("category"), selection.categoryName());
    }
    return OperationReport::finish(session.state(), failed, run.errors, json, {}, console);
}
