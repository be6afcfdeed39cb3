#include "ArchiveCommand.h"

#include "CliSession.h"
#include "CommandArguments.h"
#include "Console.h"
#include "OperationReport.h"
#include "TextTable.h"
#include "platform/ByteCountFormatter.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

QJsonObject manifestJson(const CleanArchiveManifest& manifest)
{
    return QJsonDocument::fromJson(manifest.toJson()).object();
}

QJsonObject summaryJson(const CleanArchiveSummary& summary)
{
    QJsonObject object;
    object.insert(QLatin1String("id"), summary.id);
    object.insert(QLatin1String("path"), summary.url.toString());
    object.insert(QLatin1String("manifest"), manifestJson(summary.manifest));
    return object;
}

QString profileNames()
{
    QStringList names;
    for (const CleanArchiveProfile profile : CleanArchiveProfiles::all()) {
        names.append(CleanArchiveProfiles::rawValue(profile));
    }
    return names.join(QStringLiteral(", "));
}

QString archivesTable(const CleanArchiveSummaryList& archives)
{
    TextTable table({TextTable::Align::left, TextTable::Align::left, TextTable::Align::right, TextTable::Align::right,
                     TextTable::Align::left});
    table.addRow({QStringLiteral("Архив"), QStringLiteral("Профиль"), QStringLiteral("Элементов"),
                  QStringLiteral("На диске"), QStringLiteral("Создан (UTC)")});
    for (const CleanArchiveSummary& summary : archives) {
        const CleanArchiveManifest& manifest = summary.manifest;
        const bool packed = manifest.compression == QLatin1String("tar.zst");
        QString size = ByteCountFormatter::format(packed ? manifest.compressedBytes.value_or(0) : manifest.totalBytes);
        if (packed) {
            size += QStringLiteral(" (tar.zst)");
        }
        table.addRow({summary.id, manifest.profileTitle, QString::number(manifest.entries.size()), size,
                      CleanArchiveManifest::formatDate(manifest.createdAt)});
    }
    return table.render();
}

} // namespace

QString ArchiveCommand::name() const
{
    return QStringLiteral("archive");
}

QString ArchiveCommand::synopsis() const
{
    return QStringLiteral("create ПРОФИЛЬ | list | restore ID [--json]");
}

QString ArchiveCommand::summary() const
{
    return QStringLiteral("чистые архивы профиля данных: создать, показать, восстановить");
}

QString ArchiveCommand::details() const
{
    return QStringLiteral(
        "create копирует папки профиля (essential: Documents, Desktop, Downloads без .dmg/.pkg/.zip;\n"
        "creative: Movies, Music, Pictures; developer: Projects, Developer, .config, .ssh) в\n"
        "<папка архива>/CleanArchives/Brisko_<время> с manifest.json и SHA-256 каждой записи; исходники\n"
        "остаются на месте. Со сжатием (настройка compressCleanArchive) копия упаковывается в\n"
        "archive.tar.zst. Код выхода 1, если что-то не скопировалось.\n"
        "list показывает архивы папки архива, новые сверху.\n"
        "restore ID возвращает записи архива в домашнюю папку, только где их нет, и только после\n"
        "проверки SHA-256; существующее не трогается. Код выхода 1 при хотя бы одной ошибке.\n");
}

CommandResult ArchiveCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<CommandArguments> parsed =
        CommandArguments::parse(arguments, {QStringLiteral("--json")}, {}, &error);
    if (!parsed) {
        return CommandResult::usageError(error);
    }
    const QStringList& positionals = parsed->positionals();
    if (positionals.isEmpty()) {
        return CommandResult::usageError(QStringLiteral("укажите create, list или restore"));
    }
    const QString action = positionals.first();
    const bool json = parsed->hasFlag(QStringLiteral("--json"));
    if (action == QLatin1String("list")) {
        if (positionals.size() != 1) {
            return CommandResult::usageError(QStringLiteral("лишние аргументы"));
        }
        CliSession session(process(), nullptr);
        return list(session, json, console);
    }
    if (action != QLatin1String("create") && action != QLatin1String("restore")) {
        return CommandResult::usageError(
            QStringLiteral("неизвестное действие «%1»; допустимы create, list и restore").arg(action));
    }
    if (positionals.size() != 2) {
        return CommandResult::usageError(positionals.size() < 2
                                             ? (action == QLatin1String("create") ? QStringLiteral("укажите профиль")
                                                                                  : QStringLiteral("укажите ID архива"))
                                             : QStringLiteral("лишние аргументы"));
    }
    if (action == QLatin1String("create") && !CleanArchiveProfiles::fromRawValue(positionals.at(1))) {
        return CommandResult::usageError(
            QStringLiteral("неизвестный профиль «%1»; допустимы %2").arg(positionals.at(1), profileNames()));
    }
    CliSession session(process(), json ? nullptr : &console);
    return action == QLatin1String("create") ? create(session, positionals.at(1), json, console)
                                             : restore(session, positionals.at(1), json, console);
}

CommandResult ArchiveCommand::create(CliSession& session, const QString& profile, bool json, Console& console)
{
    QFuture<CleanArchiveCreateResult> created;
    const CliSession::OperationRun run = session.run([&](AppState& state) {
        created = state.createCleanArchive(*CleanArchiveProfiles::fromRawValue(profile));
        return QFuture<void>(created);
    });
    AppState& state = session.state();
    if (!run.started || created.resultCount() == 0) {
        return OperationReport::refused(state, console);
    }
    const CleanArchiveCreateResult result = created.result();
    std::optional<QJsonObject> object;
    QStringList lines;
    if (json) {
        object.emplace();
        object->insert(QLatin1String("id"), result.archiveURL.fileName());
        object->insert(QLatin1String("path"), result.archiveURL.toString());
        object->insert(QLatin1String("copiedFiles"), result.copiedFiles);
        object->insert(QLatin1String("errors"), QJsonArray::fromStringList(result.errors));
        object->insert(QLatin1String("manifest"), manifestJson(result.manifest));
    } else if (result.copiedFiles > 0) {
        lines.append(QStringLiteral("Архив: ") + result.archiveURL.toString());
    }
    return OperationReport::finish(state, result.errors.size(), result.errors, object, lines, console);
}

CommandResult ArchiveCommand::list(CliSession& session, bool json, Console& console)
{
    AppState& state = session.state();
    state.refreshCleanArchives();
    const CleanArchiveSummaryList& archives = state.cleanArchives();
    if (json) {
        QJsonArray items;
        for (const CleanArchiveSummary& summary : archives) {
            items.append(summaryJson(summary));
        }
        QJsonObject result;
        result.insert(QLatin1String("archives"), items);
        console.printJson(QJsonDocument(result));
        return CommandResult::ok();
    }
    if (archives.isEmpty()) {
        console.outLine(QStringLiteral("Архивов нет в ") + state.settings().archivePath
                        + QStringLiteral("/CleanArchives"));
        return CommandResult::ok();
    }
    console.out(archivesTable(archives));
    return CommandResult::ok();
}

CommandResult ArchiveCommand::restore(CliSession& session, const QString& id, bool json, Console& console)
{
    AppState& state = session.state();
    state.refreshCleanArchives();
    const CleanArchiveSummaryList& archives = state.cleanArchives();
    const auto found = std::find_if(archives.cbegin(), archives.cend(),
                                    [&id](const CleanArchiveSummary& summary) { return summary.id == id; });
    if (found == archives.cend()) {
        console.errLine(QStringLiteral("brisko: архив «") + id + QStringLiteral("» не найден в ")
                        + state.settings().archivePath + QStringLiteral("/CleanArchives"));
        return CommandResult::failed();
    }
    const CleanArchiveSummary summary = *found;
    QFuture<RestoreResult> restored;
    const CliSession::OperationRun run = session.run([&](AppState& s) {
        restored = s.restoreCleanArchive(summary);
        return QFuture<void>(restored);
    });
    if (!run.started || restored.resultCount() == 0) {
        return OperationReport::refused(state, console);
    }
    const RestoreResult result = restored.result();
    std::optional<QJsonObject> object;
    if (json) {
        object.emplace();
        object->insert(QLatin1String("id"), summary.id);
        object->insert(QLatin1String("restored"), result.restored);
        object->insert(QLatin1String("skipped"), result.skipped);
        object->insert(QLatin1String("failed"), result.failed);
        object->insert(QLatin1String("errors"), QJsonArray::fromStringList(result.errors));
    }
    return OperationReport::finish(state, result.failed, result.errors, object, {}, console);
}
