#include "CliCommands.h"
#include "SelectedRowsCommand.h"

#include "CliSession.h"
#include "OperationReport.h"
#include "ScanSelection.h"

#include <algorithm>

namespace {

CommandResult act(CliSession& session, const ScanSelection& selection, Console& console)
{
    const CliSession::OperationRun run = session.run([](AppState& state) { return state.moveSelectedToArchive(); });
    const AppState& state = session.state();
    if (!run.started || !state.lastMoveResult()) {
        return OperationReport::refused(state, console);
    }
    const MoveResult& result = *state.lastMoveResult();
    std::optional<QJsonObject> json;
    QStringList lines;
    if (selection.json()) {
        json = OperationReport::moveResult(result);
        json->insert(QLatin1String("category"), selection.categoryName());
        json->insert(QLatin1String("archivePath"), state.settings().archivePath);
        json->insert(QLatin1String("undoAvailable"), state.undoAvailable());
    } else {
        for (const MoveRecord& record : result.records) {
            lines.append(record.originalPath.toString() + QStringLiteral(" → ") + record.destinationPath.toString());
        }
    }
    // A batch whose record could not be stored is a failure even when every
    // item it processed moved.
    const qint64 failed = result.journalError.isEmpty() ? result.failed : std::max<qint64>(result.failed, 1);
    const CommandResult finished = OperationReport::finish(state, failed, result.errors, json, lines, console);
    return result.stopped && failed == 0 ? CommandResult::stopped() : finished;
}

} // namespace

CliCommand CliCommands::move()
{
    return SelectedRowsCommand::describe(
        QStringLiteral("move"),
        QStringLiteral("переносит выбранное из категории в папку архива (отмена — brisko undo)"),
        QStringLiteral(
            "Папка архива — archivePath из настроек (brisko archive-folder ПАПКА или brisko settings set archivePath=…).\n"
            "Ничего не перезаписывается: при совпадении имён добавляется имя родительской папки и номер.\n"
            "На другой диск элемент сначала копируется и проверяется, исходник удаляется только после этого.\n"
            "Последний перенос можно отменить командой brisko undo.\n"),
        act);
}
