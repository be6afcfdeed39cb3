#include "SafeCleanupCommand.h"

#include "CliSession.h"
#include "CommandArguments.h"
#include "Console.h"
#include "OperationReport.h"
#include "TextTable.h"
#include "platform/ByteCountFormatter.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

QJsonArray candidatesJson(const SafeCleanupCandidateList& candidates)
{
    QJsonArray list;
    for (const SafeCleanupCandidate& candidate : candidates) {
        list.append(OperationReport::candidate(candidate));
    }
    return list;
}

QString candidatesTable(const SafeCleanupCandidateList& candidates)
{
    TextTable table({TextTable::Align::right, TextTable::Align::left, TextTable::Align::left});
    table.addRow({QStringLiteral("Размер"), QStringLiteral("Кэш"), QStringLiteral("Папка")});
    for (const SafeCleanupCandidate& candidate : candidates) {
        table.addRow({ByteCountFormatter::format(candidate.size), candidate.label, candidate.path.toString()});
    }
    return table.render();
}

} // namespace

QString SafeCleanupCommand::name() const
{
    return QStringLiteral("safe-cleanup");
}

QString SafeCleanupCommand::synopsis() const
{
    return QStringLiteral("list | clean [--json]");
}

QString SafeCleanupCommand::summary() const
{
    return QStringLiteral("находит (list) или удаляет (clean) безопасные кэши известных приложений");
}

QString SafeCleanupCommand::details() const
{
    return QStringLiteral(
        "list показывает кэши больше 1 МиБ, которые приложения создают заново сами, самые большие первыми.\n"
        "clean находит их так же и удаляет все найденные, окончательно (не в Корзину); если ничего не\n"
        "найдено, ничего не удаляется и код выхода 0. Код выхода 1, если хотя бы один кэш удалить не удалось.\n");
}

CommandResult SafeCleanupCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<CommandArguments> parsed =
        CommandArguments::parse(arguments, {QStringLiteral("--json")}, {}, &error);
    if (!parsed) {
        return CommandResult::usageError(error);
    }
    const QStringList& positionals = parsed->positionals();
    if (positionals.size() != 1) {
        return CommandResult::usageError(positionals.isEmpty() ? QStringLiteral("укажите list или clean")
                                                               : QStringLiteral("лишние аргументы"));
    }
    const bool json = parsed->hasFlag(QStringLiteral("--json"));
    const QString action = positionals.first();
    if (action != QLatin1String("list") && action != QLatin1String("clean")) {
        return CommandResult::usageError(
            QStringLiteral("неизвестное действие «%1»; допустимы list и clean").arg(action));
    }
    CliSession session(process(), json ? nullptr : &console);
    return action == QLatin1String("list") ? list(session, json, console) : clean(session, json, console);
}

CommandResult SafeCleanupCommand::list(CliSession& session, bool json, Console& console)
{
    AppState& state = session.state();
    state.scanSafeCleanup();
    const SafeCleanupCandidateList& candidates = state.safeCleanupCandidates();
    if (json) {
        qint64 total = 0;
        for (const SafeCleanupCandidate& candidate : candidates) {
            total += candidate.size;
        }
        QJsonObject result;
        result.insert(QLatin1String("status"), OperationReport::status(state));
        result.insert(QLatin1String("totalBytes"), total);
        result.insert(QLatin1String("candidates"), candidatesJson(candidates));
        console.printJson(QJsonDocument(result));
        return CommandResult::ok();
    }
    if (!candidates.isEmpty()) {
        console.out(candidatesTable(candidates));
        console.out(QStringLiteral("\n"));
    }
    if (const std::optional<QString> status = state.statusMessage()) {
        console.outLine(*status);
    }
    return CommandResult::ok();
}

CommandResult SafeCleanupCommand::clean(CliSession& session, bool json, Console& console)
{
    AppState& state = session.state();
    state.scanSafeCleanup();
    const qint64 taken = state.safeCleanupCandidates().size();
    if (taken == 0) {
        // Nothing worth cleaning is not a failure: say so and succeed.
        std::optional<QJsonObject> object;
        if (json) {
            object = OperationReport::removal(0, 0, 0, {});
            object->insert(QLatin1String("candidates"), QJsonArray());
        }
        return OperationReport::finish(state, 0, {}, object, {}, console);
    }
    if (!json) {
        console.errLine(state.statusMessage().value_or(QString()));
    }
    const CliSession::OperationRun run = session.run([](AppState& s) { return s.runSafeCleanup(); });
    if (!run.started) {
        return OperationReport::refused(state, console);
    }
    const qint64 failed = run.errors.size();
    const qint64 freed = run.recorded ? run.recorded->bytesFreed : 0;
    std::optional<QJsonObject> object;
    if (json) {
        object = OperationReport::removal(taken - failed, failed, freed, run.errors);
        // What is left after the cleanup, listed afresh.
        object->insert(QLatin1String("candidates"), candidatesJson(state.safeCleanupCandidates()));
    }
    return OperationReport::finish(state, failed, run.errors, object, {}, console);
}
