#include "UndoCommand.h"

#include "CliSession.h"
#include "CommandArguments.h"
#include "OperationReport.h"

QString UndoCommand::name() const
{
    return QStringLiteral("undo");
}

QString UndoCommand::synopsis() const
{
    return QStringLiteral("[--json]");
}

QString UndoCommand::summary() const
{
    return QStringLiteral("отменяет последний перенос на архив");
}

QString UndoCommand::details() const
{
    return QStringLiteral(
        "Элементы возвращаются на прежние места в обратном порядке; занятое место не перезаписывается.\n"
        "Если не вернулось ничего и были ошибки, перенос остаётся в журнале и его можно отменить снова.\n"
        "Код выхода 1, если отменять нечего или хотя бы один элемент не вернулся.\n");
}

CommandResult UndoCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<CommandArguments> parsed =
        CommandArguments::parseFlagsOnly(arguments, {QStringLiteral("--json")}, &error);
    if (!parsed) {
        return CommandResult::usageError(error);
    }
    const bool json = parsed->hasFlag(QStringLiteral("--json"));

    CliSession session(process(), json ? nullptr : &console);
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
