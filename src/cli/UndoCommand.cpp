#include "CliCommands.h"
#include "CommandCall.h"

#include "CliSession.h"
#include "OperationReport.h"

namespace {

QString details()
{
    return QStringLiteral(
        "Элементы возвращаются на прежние места в обратном порядке; занятое место не перезаписывается.\n"
        "Если не вернулось ничего и были ошибки, перенос остаётся в журнале и его можно отменить снова.\n"
        "Код выхода 1, если отменять нечего или хотя бы один элемент не вернулся.\n");
}

CommandResult run(const CommandCall& call)
{
    Console& console = call.console();
    const bool json = call.json();

    CliSession session(call.environment(), json ? nullptr : &console);
    const CliSession::OperationRun run = session.run([](AppState& state) { return state.undoLastMove(); });
    const AppState& state = session.state();
    if (!run.started || !state.lastMoveResult()) {
        return OperationReport::refused(state, console);
    }
    const MoveResult& result = *state.lastMoveResult();
    std::optional<QJsonObject> object;
    if (json) {
        object = OperationReport::moveResult(result);
        object->insert(QLatin1String("undoAvailable"), state.undoAvailable());
    }
    return OperationReport::finish(state, result.failed, result.errors, object, {}, console);
}

} // namespace

CliCommand CliCommands::undo()
{
    return {
        .name = QStringLiteral("undo"),
        .summary = QStringLiteral("отменяет последний перенос на архив"),
        .details = details(),
        .options = {CliOption::flag(QStringLiteral("json"))},
        .run = run,
    };
}
