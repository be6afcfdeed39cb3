#include "CacheClassifier.h"
#include "HomeLayout.h"
#include "XdgUserDirs.h"

#include <QProcessEnvironment>

namespace {

struct UserDirKey
{
    UserFolder folder;
    const char* key;
    const char* fallback;
};

const UserDirKey userDirKeys[] = {
    {UserFolder::desktop, "XDG_DESKTOP_DIR", "Desktop"},
    {UserFolder::downloads, "XDG_DOWNLOAD_DIR", "Downloads"},
    {UserFolder::documents, "XDG_DOCUMENTS_DIR", "Documents"},
    {UserFolder::videos, "XDG_VIDEOS_DIR", "Videos"},
    {UserFolder::music, "XDG_MUSIC_DIR", "Music"},
    {UserFolder::pictures, "XDG_PICTURES_DIR", "Pictures"},
};

bool isInside(const QString& path, const QString& home)
{
    return path.startsWith(home == QLatin1String("/") ? home : home + u'/') && path.size() > home.size() + 1;
}

// An XDG_*_HOME folder: the variable when it is absolute and inside the home
// (nothing outside it is ever cleaned), else the usual folder below the home.
FilePath baseFolder(const QProcessEnvironment& environment, const char* variable, const FilePath& home,
                    const char* fallback, bool mustBeInsideHome, PlaceOrigin* origin)
{
    const QString value = environment.value(QLatin1String(variable));
    if (value.startsWith(u'/')) {
        const QString path = CacheClassifier::standardizePath(value);
        if (!mustBeInsideHome || isInside(path, CacheClassifier::standardizePath(home.toString()))) {
            *origin = PlaceOrigin::environment;
            return FilePath::fromString(path);
        }
    }
    *origin = PlaceOrigin::fallback;
    return home.child(QByteArray(fallback));
}

QList<AppCacheFolder> linuxAppCaches()
{
    const QString closeAndDelete = QStringLiteral("Закройте программу — папку можно удалить, она создаст её заново");
    return {
        {QStringLiteral("Google Chrome"), QStringLiteral(".cache/google-chrome"),
         QStringLiteral("Chrome → Настройки → Конфиденциальность → Удалить данные о работе в браузере")},
        {QStringLiteral("Chromium"), QStringLiteral(".cache/chromium"),
         QStringLiteral("Chromium → Настройки → Конфиденциальность → Удалить данные о работе в браузере")},
        {QStringLiteral("Firefox"), QStringLiteral(".cache/mozilla/firefox"),
         QStringLiteral("Firefox → Настройки → Приватность → Куки и данные сайтов → Удалить данные")},
        {QStringLiteral("Opera"), QStringLiteral(".cache/opera"),
         QStringLiteral("Opera → Settings → Privacy → Clear browsing data")},
        {QStringLiteral("Яндекс Браузер"), QStringLiteral(".cache/yandex-browser"),
         QStringLiteral("Яндекс Браузер → Настройки → Системные → Очистить историю")},
        {QStringLiteral("VS Code (кэш)"), QStringLiteral(".config/Code/Cache"), closeAndDelete},
        {QStringLiteral("VS Code (данные версий)"), QStringLiteral(".config/Code/CachedData"), closeAndDelete},
        {QStringLiteral("VS Code (пакеты расширений)"), QStringLiteral(".config/Code/CachedExtensionVSIXs"),
         closeAndDelete},
        {QStringLiteral("JetBrains"), QStringLiteral(".cache/JetBrains"),
         QStringLiteral("IDE → File → Invalidate Caches…")},
        {QStringLiteral("pip"), QStringLiteral(".cache/pip"), QStringLiteral("pip cache purge")},
        {QStringLiteral("npm"), QStringLiteral(".npm/_cacache"), QStringLiteral("npm cache clean --force")},
        {QStringLiteral("yarn"), QStringLiteral(".cache/yarn"), QStringLiteral("yarn cache clean")},
        {QStringLiteral("Go"), QStringLiteral(".cache/go-build"), QStringLiteral("go clean -cache")},
        {QStringLiteral("Cargo"), QStringLiteral(".cargo/registry/cache"),
         QStringLiteral("Можно удалить вручную — Cargo скачает пакеты снова")},
        {QStringLiteral("Gradle"), QStringLiteral(".gradle/caches"),
         QStringLiteral("gradle --stop, затем удалить папку — сборка скачает всё снова")},
        {QStringLiteral("Миниатюры"), QStringLiteral(".cache/thumbnails"),
         QStringLiteral("Файловый менеджер создаст миниатюры заново")},
        {QStringLiteral("Spotify"), QStringLiteral(".cache/spotify"),
         QStringLiteral("Spotify → Настройки → Хранилище → Очистить кэш")},
        {QStringLiteral("Telegram"), QStringLiteral(".local/share/TelegramDesktop/tdata/user_data"),
         QStringLiteral("Telegram → Настройки → Продвинутые настройки → Управление памятью устройства → Очистить")},
        {QStringLiteral("Steam (шейдеры)"), QStringLiteral(".local/share/Steam/steamapps/shadercache"),
         QStringLiteral("Закройте Steam — шейдеры соберутся заново")},
        {QStringLiteral("Flatpak"), QStringLiteral(".var/app/*/cache"), closeAndDelete},
        {QStringLiteral("Snap"), QStringLiteral("snap/*/common/.cache"), closeAndDelete},
    };
}

} // namespace

HomeLayout HomeLayout::freedesktop(const FilePath& home, const QProcessEnvironment& environment,
                                   QList<FilePath> journalRoots, uint uid)
{
    HomeLayout layout;
    layout.m_home = home;

    PlaceOrigin configOrigin = PlaceOrigin::fallback;
    const FilePath config = baseFolder(environment, "XDG_CONFIG_HOME", home, ".config", false, &configOrigin);
    layout.m_userDirsFile = config.child(QByteArrayLiteral("user-dirs.dirs"));
    const QHash<QString, FilePath> dirs = XdgUserDirs::read(layout.m_userDirsFile, home);
    for (const UserDirKey& entry : userDirKeys) {
        const QString key = QLatin1String(entry.key);
        UserFolderPlace place{entry.folder, key, home.child(QByteArray(entry.fallback)), PlaceOrigin::fallback};
        if (const auto found = dirs.constFind(key); found != dirs.cend()) {
            place.path = *found;
            place.origin = found->isEmpty() ? PlaceOrigin::disabled : PlaceOrigin::userDirs;
        }
        layout.m_userFolders.append(place);
    }

    layout.m_userCaches = baseFolder(environment, "XDG_CACHE_HOME", home, ".cache", true, &layout.m_userCachesOrigin);
    // The Trash row must be the trash that moving to the Trash fills, so the
    // data folder follows the same rule as the Trash service.
    const FilePath data = baseFolder(environment, "XDG_DATA_HOME", home, ".local/share", false, &layout.m_trashOrigin);
    layout.m_trash = data.child(QByteArrayLiteral("Trash"));
    // files/<item>/… : one level more than a Trash that holds the items itself.
    layout.m_trashDepth = 4;
    layout.m_logPlaces = {QStringLiteral(".xsession-errors*"), QStringLiteral(".local/share/xorg/*.log")};
    layout.m_journalRoots = std::move(journalRoots);
    layout.m_uid = uid;
    layout.m_appCaches = linuxAppCaches();
    for (const AppCacheFolder& app : layout.m_appCaches) {
        layout.m_safeCaches.append({app.label, app.folder});
    }

    CacheRules& rules = layout.m_cacheRules;
    rules.protectedAreas = {
        {QStringLiteral(".ssh"), {}},
        {QStringLiteral(".gnupg"), {}},
        {QStringLiteral(".local/share/keyrings"), {}},
        {QStringLiteral(".mozilla/firefox/*"), QStringLiteral("cache2")},
        {QStringLiteral(".config/google-chrome"), QStringLiteral("*Cache*")},
        {QStringLiteral(".thunderbird"), {}},
        {QStringLiteral(".local/share/TelegramDesktop/tdata"), QStringLiteral("user_data")},
    };
    for (const SafeCacheFolder& safe : layout.m_safeCaches) {
        rules.safeFolders.append(safe.folder);
    }
    rules.cacheMarker = QStringLiteral("/.cache/");

    layout.m_installerExtensions = {QStringLiteral("dmg"),     QStringLiteral("pkg"),  QStringLiteral("deb"),
                                    QStringLiteral("rpm"),     QStringLiteral("appimage"), QStringLiteral("run"),
                                    QStringLiteral("flatpakref"), QStringLiteral("snap")};
    const std::optional<FilePath> videos = layout.userFolder(UserFolder::videos);
    layout.m_defaultArchiveFolder = (videos ? *videos : home).child(QByteArrayLiteral("Brisko Archive"));
    // The default exclusions keep walks out of these; walks inside them lift that.
    layout.m_serviceAreaNames = {QStringLiteral(".cache"), QStringLiteral(".npm")};

    LayoutTexts& texts = layout.m_texts;
    texts.logsDetail = QStringLiteral("Логи пользователя — очистка вручную");
    texts.cachesDetail = QStringLiteral("Кэши пользователя — очистка вручную");
    texts.trashDetail = QStringLiteral("Корзина — очистите в файловом менеджере («Очистить корзину»)");
    texts.journalDetail =
        QStringLiteral("Журнал systemd пользователя — сократите командой journalctl --user --vacuum-size=100M");
    texts.revealItem = QStringLiteral("Показать в папке");
    texts.revealItemHelp = QStringLiteral("Показать элемент в файловом менеджере");
    texts.revealFolderHelp = QStringLiteral("Показать папку в файловом менеджере");
    texts.revealParentHelp = QStringLiteral("Открыть в файловом менеджере папку, в которой лежит выбранный элемент");
    texts.trashRestoreHint = QStringLiteral("Восстановить можно из Корзины в файловом менеджере.");
    texts.healthTitle = QStringLiteral("Состояние компьютера");
    return layout;
}
