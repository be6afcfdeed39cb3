#include "CliCommands.h"
#include "CommandCall.h"

#include "CliSession.h"
#include "Console.h"
#include "OperationReport.h"

#include <QJsonArray>

namespace {

CommandResult run(const CommandCall& call)
{
    Console& console = call.console();
    const bool json = call.json();

    CliSession session(call.environment(), json ? nullptr : &console);
    QFuture<SortResult> sorted;
    const CliSession::OperationRun run = session.run([&sorted](AppState& state) {
        sorted = state.sortDownloads();
        return QFuture<void>(sorted);
    });
    if (!run.started || sorted.resultCount() < 1) {
        return OperationReport::refused(session.state(), console);
    }
    const SortResult result = sorted.result();

    std::optional<QJsonObject> object;
    if (json) {
        QJsonObject buckets;
        for (auto it = result.byBucket.cbegin(); it != result.byBucket.cend(); ++it) {
            buckets.insert(it.key(), it.value());
        }
        object.emplace();
        object->insert(QLatin1String("moved"), result.moved);
        object->insert(QLatin1String("skipped"), result.skipped);
        object->insert(QLatin1String("failed"), result.failed);
        object->insert(QLatin1String("errors"), QJsonArray::fromStringList(result.errors));
        object->insert(QLatin1String("byBucket"), buckets);
    }
    // One line per failed file, or the one line of an unreadable Downloads,
    // which fails no single file but is a failure all the same.
    return OperationReport::finish(session.state(), result.errors.size(), result.errors, object, {}, console);
}

} // namespace

CliCommand CliCommands::sortDownloads()
{
    return {
        .name = QStringLiteral("sort-downloads"),
        .summary = QStringLiteral("раскладывает файлы из корня Downloads по папкам Downloads/_Sorted"),
        .details = QStringLiteral(
            "Каждый файл из корня ~/Downloads переносится в Downloads/_Sorted/<вид>: Video, Installers, Archives,\n"
            "Documents, Audio, Images, Code или Other — по последнему расширению имени. Папки остаются на месте,\n"
            "ничего не удаляется и не заменяется: занятое имя получает номер (report_2.pdf). Файл, который не\n"
            "удалось перенести, остаётся где был. Код выхода 1, если хоть один файл не перенесён или Downloads\n"
            "не читается.\n"),
        .options = {CliOption::flag(QStringLiteral("json"))},
        .run = run,
    };
}
