#include "PlacesCommand.h"

#include "CommandArguments.h"
#include "Console.h"
#include "TextTable.h"
#include "app/ProcessServices.h"
#include "platform/PlatformPaths.h"
#include "scan/HomeLayout.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>

namespace {

struct Place
{
    QString name;
    QString title;
    FilePath path;
    PlaceOrigin origin;
};

QString folderTitle(UserFolder folder)
{
    switch (folder) {
    case UserFolder::desktop:
        return QStringLiteral("Рабочий стол");
    case UserFolder::downloads:
        return QStringLiteral("Загрузки");
    case UserFolder::documents:
        return QStringLiteral("Документы");
    case UserFolder::videos:
        return QStringLiteral("Видео");
    case UserFolder::music:
        return QStringLiteral("Музыка");
    case UserFolder::pictures:
        break;
    }
    return QStringLiteral("Изображения");
}

QString originTitle(PlaceOrigin origin)
{
    switch (origin) {
    case PlaceOrigin::fixed:
        return QStringLiteral("постоянное место");
    case PlaceOrigin::userDirs:
        return QStringLiteral("user-dirs.dirs");
    case PlaceOrigin::fallback:
        return QStringLiteral("по умолчанию");
    case PlaceOrigin::disabled:
        return QStringLiteral("отключена в user-dirs.dirs");
    case PlaceOrigin::environment:
        break;
    }
    return QStringLiteral("переменная XDG");
}

QList<Place> placesOf(const HomeLayout& layout)
{
    QList<Place> places;
    for (const UserFolderPlace& folder : layout.userFolders()) {
        places.append({HomeLayout::folderName(folder.folder), folderTitle(folder.folder), folder.path, folder.origin});
    }
    places.append({QStringLiteral("caches"), QStringLiteral("Кэши"), layout.userCaches(), layout.userCachesOrigin()});
    places.append({QStringLiteral("trash"), QStringLiteral("Корзина"), layout.trash(), layout.trashOrigin()});
    places.append({QStringLiteral("archive"), QStringLiteral("Архив по умолчанию"), layout.defaultArchiveFolder(),
                   PlaceOrigin::fixed});
    return places;
}

} // namespace

QString PlacesCommand::name() const
{
    return QStringLiteral("places");
}

QString PlacesCommand::synopsis() const
{
    return QStringLiteral("[--json]");
}

QString PlacesCommand::summary() const
{
    return QStringLiteral("где программа ищет папки пользователя, кэши и Корзину");
}

CommandResult PlacesCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<CommandArguments> parsed =
        CommandArguments::parseFlagsOnly(arguments, {QStringLiteral("--json")}, &error);
    if (!parsed) {
        return CommandResult::usageError(error);
    }
    const FileSystemPtr fs = process().fileSystem;
    const HomeLayout layout = HomeLayout::forThisSystem(PlatformPaths::home(), QProcessEnvironment::systemEnvironment());
    const QList<Place> places = placesOf(layout);
    const auto exists = [&](const FilePath& path) { return !path.isEmpty() && fs->exists(path.native()); };

    if (parsed->hasFlag(QStringLiteral("--json"))) {
        QJsonArray list;
        for (const Place& place : places) {
            QJsonObject entry;
            entry.insert(QLatin1String("name"), place.name);
            entry.insert(QLatin1String("path"), place.path.isEmpty() ? QJsonValue() : QJsonValue(place.path.toString()));
            entry.insert(QLatin1String("exists"), exists(place.path));
            entry.insert(QLatin1String("origin"), HomeLayout::originName(place.origin));
            list.append(entry);
        }
        QJsonObject root;
        root.insert(QLatin1String("home"), layout.home().toString());
        QJsonObject userDirs;
        userDirs.insert(QLatin1String("path"), layout.userDirsFile().toString());
        userDirs.insert(QLatin1String("exists"), exists(layout.userDirsFile()));
        root.insert(QLatin1String("userDirsFile"), userDirs);
        root.insert(QLatin1String("places"), list);
        console.printJson(QJsonDocument(root));
        return CommandResult::ok();
    }

    TextTable table({TextTable::Align::left, TextTable::Align::left, TextTable::Align::left, TextTable::Align::left});
    table.addRow({QStringLiteral("Место"), QStringLiteral("Путь"), QStringLiteral("Есть"), QStringLiteral("Откуда")});
    for (const Place& place : places) {
        table.addRow({place.title, place.path.isEmpty() ? QStringLiteral("—") : place.path.toString(),
                      exists(place.path) ? QStringLiteral("да") : QStringLiteral("нет"), originTitle(place.origin)});
    }
    console.out(table.render());
    if (!layout.userDirsFile().isEmpty()) {
        console.outLine(QStringLiteral("Файл папок пользователя: ") + layout.userDirsFile().toString()
                        + (exists(layout.userDirsFile()) ? QString() : QStringLiteral(" (нет)")));
    }
    return CommandResult::ok();
}
