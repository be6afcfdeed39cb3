#include "SortDownloadsCommand.h"

#include "CliSession.h"
#include "CommandArguments.h"
#include "Console.h"
#include "OperationReport.h"

#include <QJsonArray>

QString SortDownloadsCommand::name() const
{
    return QStringLiteral("sort-downloads");
}

QString SortDownloadsCommand::synopsis() const
{
    return QStringLiteral("[--json]");
}

QString SortDownloadsCommand::summary() const
{
    return QStringLiteral("раскладывает файлы из корня Downloads по папкам Downloads/_Sorted");
}

QString SortDownloadsCommand::details() const
{
    return QStringLiteral(
        "Каждый файл из корня ~/Downloads переносится в Downloads/_Sorted/<вид>: Video, Installers, Archives,\n"
        "Documents, Audio, Images, Code или Other — по последнему расширению имени. Папки остаются на месте,\n"
        "ничего не удаляется и не заменяется: занятое имя получает номер (report_2.pdf). Файл, который не\n"
        "удалось перенести, остаётся где был. Код выхода 1, если хоть один файл не перенесён или Downloads\n"
        "не читается.\n");
}

CommandResult SortDownloadsCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<CommandArguments> parsed = CommandArguments::parseFlagsOnly(arguments, {QStringLiteral("--json")}, &error);
    if (!parsed) {
        return CommandResult::usageError(error);
    }
    const bool json = parsed->hasFlag(QStringLiteral("--json"));

    CliSession session(process(), json ? nullptr : &console);
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
