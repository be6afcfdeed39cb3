#include "SelectedRowsCommand.h"

#include "CliSession.h"
#include "CommandCall.h"
#include "OperationReport.h"
#include "ScanSelection.h"

CliCommand SelectedRowsCommand::describe(const QString& name, const QString& summary, const QString& operationDetails,
                                         Act act)
{
    return {
        .name = name,
        .arguments = QStringLiteral("КАТЕГОРИЯ"),
        .summary = summary,
        .details = operationDetails + QLatin1Char('\n') + ScanSelection::details(),
        .options = {CliOption::flag(QStringLiteral("only"), QStringLiteral("ИМЯ…")), CliOption::flag(QStringLiteral("json"))},
        .run =
            [act = std::move(act)](const CommandCall& call) {
                QString error;
                const std::optional<ScanSelection> selection = ScanSelection::parse(call, &error);
                if (!selection) {
                    return CommandResult::usageError(error);
                }
                CliSession session(call.environment(), selection->json() ? nullptr : &call.console());
                if (const std::optional<CommandResult> stop = selection->apply(session, call.console())) {
                    return *stop;
                }
                return act(session, *selection, call.console());
            },
    };
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
