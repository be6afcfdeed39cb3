#include "CliCommands.h"
#include "CommandCall.h"

#include "ArgumentFolderChooser.h"
#include "CliSession.h"
#include "Console.h"

#include <QDir>

namespace {

QString details()
{
    return QStringLiteral("ПАПКА должна существовать; относительный путь считается от текущей папки.\n"
                          "Текущая папка архива — поле archivePath в brisko settings get.\n");
}

CommandResult run(const CommandCall& call)
{
    Console& console = call.console();
    if (call.positionals().size() != 1 || call.positionals().first().isEmpty()) {
        return CommandResult::usageError(call.positionals().isEmpty() ? QStringLiteral("не указана папка")
                                                                         : QStringLiteral("укажите одну папку"));
    }
    const QString folder = QDir::cleanPath(QDir::current().absoluteFilePath(call.positionals().first()));
    const FilePath chosen = FilePath::fromString(folder);

    const AppEnvironment environment = call.environment();
    const auto chooser = std::make_shared<ArgumentFolderChooser>(chosen, environment.fileSystem);
    CliSession session(environment, nullptr, chooser);
    session.state().pickArchiveFolder();
    if (!chooser->answered()) {
        console.errLine(QStringLiteral("brisko: «%1» — не папка").arg(folder));
        return CommandResult::failed();
    }
    // The state saves without telling whether it could: read back what is stored.
    const std::optional<QByteArray> stored = session.environment().defaults->data(AppState::settingsKey);
    const std::optional<AppSettings> settings = stored ? AppSettings::fromJson(*stored) : std::nullopt;
    if (!settings || settings->archivePath != chosen.toString()) {
        console.errLine(
            QStringLiteral("brisko: не удалось сохранить настройки в %1").arg(environment.defaultsFile.toString()));
        return CommandResult::failed();
    }
    console.outLine(QStringLiteral("Папка архива: ") + settings->archivePath);
    return CommandResult::ok();
}

} // namespace

CliCommand CliCommands::archiveFolder()
{
    return {
        .name = QStringLiteral("archive-folder"),
        .arguments = QStringLiteral("ПАПКА"),
        .summary = QStringLiteral("выбирает папку архива для brisko move"),
        .details = details(),
        .run = run,
    };
}
