#include "ArchiveFolderCommand.h"

#include "ArgumentFolderChooser.h"
#include "CliSession.h"
#include "CommandArguments.h"
#include "Console.h"
#include "platform/PlatformDefaultsStore.h"
#include "app/ProcessServices.h"

#include <QDir>

QString ArchiveFolderCommand::name() const
{
    return QStringLiteral("archive-folder");
}

QString ArchiveFolderCommand::synopsis() const
{
    return QStringLiteral("ПАПКА");
}

QString ArchiveFolderCommand::summary() const
{
    return QStringLiteral("выбирает папку архива для brisko move");
}

QString ArchiveFolderCommand::details() const
{
    return QStringLiteral("ПАПКА должна существовать; относительный путь считается от текущей папки.\n"
                          "Текущая папка архива — поле archivePath в brisko settings get.\n");
}

CommandResult ArchiveFolderCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<CommandArguments> parsed = CommandArguments::parse(arguments, {}, {}, &error);
    if (!parsed) {
        return CommandResult::usageError(error);
    }
    if (parsed->positionals().size() != 1 || parsed->positionals().first().isEmpty()) {
        return CommandResult::usageError(parsed->positionals().isEmpty() ? QStringLiteral("не указана папка")
                                                                         : QStringLiteral("укажите одну папку"));
    }
    const QString folder = QDir::cleanPath(QDir::current().absoluteFilePath(parsed->positionals().first()));
    const FilePath chosen = FilePath::fromString(folder);

    const auto chooser = std::make_shared<ArgumentFolderChooser>(chosen, process().fileSystem);
    CliSession session(process(), nullptr, chooser);
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
            QStringLiteral("brisko: не удалось сохранить настройки в %1").arg(PlatformDefaultsStore::location()));
        return CommandResult::failed();
    }
    console.outLine(QStringLiteral("Папка архива: ") + settings->archivePath);
    return CommandResult::ok();
}
