#include "HomeLayout.h"

#include "platform/ScopedDirectory.h"

#include <QFile>

#include <algorithm>

namespace {

// "*" stands for any run of characters; everything else matches itself.
bool matchesWildcard(QByteArrayView name, QByteArrayView pattern)
{
    qsizetype n = 0;
    qsizetype p = 0;
    qsizetype star = -1;
    qsizetype resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (star >= 0) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

} // namespace

HomeLayout HomeLayout::original(const FilePath& home)
{
    HomeLayout layout;
    layout.m_home = home;
    const struct
    {
        UserFolder folder;
        const char* name;
    } folders[] = {
        {UserFolder::desktop, "Desktop"}, {UserFolder::downloads, "Downloads"}, {UserFolder::documents, "Documents"},
        {UserFolder::videos, "Movies"},   {UserFolder::music, "Music"},         {UserFolder::pictures, "Pictures"},
    };
    for (const auto& entry : folders) {
        layout.m_userFolders.append(UserFolderPlace{entry.folder, QString::fromLatin1(entry.name),
                                                    home.child(QByteArray(entry.name)), PlaceOrigin::fixed});
    }
    layout.m_userCaches = home.child(QByteArrayLiteral("Library/Caches"));
    layout.m_logPlaces = {QStringLiteral("Library/Logs")};
    layout.m_trash = home.child(QByteArrayLiteral(".Trash"));
    layout.m_trashDepth = 3;
    layout.m_appCaches = {
        {QStringLiteral("Cursor (чаты/состояние)"), QStringLiteral("Library/Application Support/Cursor/User/globalStorage"),
         QStringLiteral("Cursor → Settings → очистить историю чатов")},
        {QStringLiteral("Cursor (снимки)"), QStringLiteral("Library/Application Support/Cursor/snapshots"),
         QStringLiteral("Можно удалить старые snapshots вручную")},
        {QStringLiteral("ONEME"), QStringLiteral("Library/Application Support/ONEME"),
         QStringLiteral("Настройки ONEME → очистить медиа-кэш")},
        {QStringLiteral("Telegram"), QStringLiteral("Library/Caches/ru.keepcoder.Telegram"),
         QStringLiteral("Telegram → Settings → Data → Clear cache")},
        {QStringLiteral("Opera GX"), QStringLiteral("Library/Application Support/com.operasoftware.OperaGX"),
         QStringLiteral("Opera → Settings → Privacy → Clear browsing data")},
    };
    layout.m_safeCaches = {
        {QStringLiteral("Safari"), QStringLiteral("Library/Caches/com.apple.Safari")},
        {QStringLiteral("Chrome"), QStringLiteral("Library/Caches/com.google.Chrome")},
        {QStringLiteral("VS Code"), QStringLiteral("Library/Caches/com.microsoft.VSCode")},
        {QStringLiteral("Xcode"), QStringLiteral("Library/Caches/com.apple.dt.Xcode")},
        {QStringLiteral("pip"), QStringLiteral("Library/Caches/pip")},
        {QStringLiteral("Homebrew"), QStringLiteral("Library/Caches/Homebrew")},
        {QStringLiteral("Spotify"), QStringLiteral("Library/Caches/com.spotify.client")},
        {QStringLiteral("Telegram"), QStringLiteral("Library/Caches/ru.keepcoder.Telegram")},
        {QStringLiteral("Opera GX"), QStringLiteral("Library/Caches/com.operasoftware.OperaGX")},
        {QStringLiteral("DiagnosticReports"), QStringLiteral("Library/Logs/DiagnosticReports")},
    };
    CacheRules& rules = layout.m_cacheRules;
    rules.protectedTexts = {
        QStringLiteral("/Library/Keychains"),        QStringLiteral("/Library/Mail"),
        QStringLiteral("/Library/Messages"),         QStringLiteral("/Library/Safari"),
        QStringLiteral("/Library/Accounts"),         QStringLiteral("/Library/IdentityServices"),
        QStringLiteral("/Library/Group Containers"), QStringLiteral("/Library/Application Support/MobileSync"),
    };
    for (const SafeCacheFolder& safe : layout.m_safeCaches) {
        rules.safeSuffixes.append(QLatin1Char('/') + safe.folder);
    }
    rules.cacheMarker = QStringLiteral("/Library/Caches/");
    rules.logMarker = QStringLiteral("/Library/Logs/");
    rules.crashReportsWord = QStringLiteral("DiagnosticReports");
    layout.m_installerExtensions = {QStringLiteral("dmg"), QStringLiteral("pkg")};
    layout.m_defaultArchiveFolder = home.child(QByteArrayLiteral("Movies/Brisko Archive"));
    LayoutTexts& texts = layout.m_texts;
    texts.logsDetail = QStringLiteral("Логи пользователя — очистка вручную или через macOS");
    texts.cachesDetail = QStringLiteral("Кэши пользователя — очистка вручную или через macOS");
    texts.trashDetail = QStringLiteral("Корзина — очистите через Finder или «Очистить корзину»");
    texts.revealItem = QStringLiteral("Показать в Finder");
    texts.revealItemHelp = QStringLiteral("Показать элемент в Finder");
    texts.revealFolderHelp = QStringLiteral("Показать папку в Finder");
    texts.revealParentHelp = QStringLiteral("Открыть в Finder папку, в которой лежит выбранный элемент");
    texts.trashRestoreHint = QStringLiteral("Восстановить можно из Finder.");
    texts.healthTitle = QStringLiteral("Состояние Mac");
    return layout;
}

std::optional<FilePath> HomeLayout::userFolder(UserFolder folder) const
{
    for (const UserFolderPlace& place : m_userFolders) {
        if (place.folder == folder) {
            if (place.path.isEmpty()) {
                return std::nullopt;
            }
            return place.path;
        }
    }
    return std::nullopt;
}

QByteArray HomeLayout::relativeToHome(const FilePath& path) const
{
    QByteArray prefix = m_home.native();
    if (!prefix.endsWith('/')) {
        prefix.append('/');
    }
    if (!path.native().startsWith(prefix) || path.native().size() == prefix.size()) {
        return {};
    }
    return path.native().mid(prefix.size());
}

QSet<QByteArray> HomeLayout::userFolderNames() const
{
    QSet<QByteArray> names;
    for (const UserFolderPlace& place : m_userFolders) {
        const QByteArray relative = relativeToHome(place.path);
        if (!relative.isEmpty() && !relative.contains('/')) {
            names.insert(relative);
        }
    }
    return names;
}

bool HomeLayout::isInstaller(const QString& fileName) const
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 && m_installerExtensions.contains(fileName.mid(dot + 1).toLower());
}

QList<FilePath> HomeLayout::expand(const QString& pattern, const FileSystem& fs) const
{
    QList<FilePath> current = {m_home};
    for (const QByteArray& part : QFile::encodeName(pattern).split('/')) {
        if (part.isEmpty()) {
            continue;
        }
        QList<FilePath> next;
        for (const FilePath& folder : current) {
            if (!part.contains('*')) {
                const FilePath child = folder.child(part);
                if (fs.exists(child.native())) {
                    next.append(child);
                }
                continue;
            }
            ScopedDirectory dir(fs, fs.openDirectory(FileSystem::CurrentDirectory, folder.native().constData(),
                                                     folder.native()));
            DirectoryNames names;
            if (!dir.isOpen() || !fs.readDirectory(dir.get(), folder.native(), &names)) {
                continue;
            }
            QList<QByteArray> matches;
            for (const DirectoryNames::Name& name : names.names) {
                const QByteArray text = names.buffer.mid(name.offset, name.length);
                if (matchesWildcard(text, part)) {
                    matches.append(text);
                }
            }
            // Kernel order differs between file systems; rows should not.
            std::sort(matches.begin(), matches.end());
            for (const QByteArray& match : matches) {
                next.append(folder.child(match));
            }
        }
        current = next;
    }
    return current == QList<FilePath>{m_home} ? QList<FilePath>{} : current;
}

QString HomeLayout::folderName(UserFolder folder)
{
    switch (folder) {
    case UserFolder::desktop:
        return QStringLiteral("desktop");
    case UserFolder::downloads:
        return QStringLiteral("downloads");
    case UserFolder::documents:
        return QStringLiteral("documents");
    case UserFolder::videos:
        return QStringLiteral("videos");
    case UserFolder::music:
        return QStringLiteral("music");
    case UserFolder::pictures:
        break;
    }
    return QStringLiteral("pictures");
}

QString HomeLayout::originName(PlaceOrigin origin)
{
    switch (origin) {
    case PlaceOrigin::fixed:
        return QStringLiteral("fixed");
    case PlaceOrigin::userDirs:
        return QStringLiteral("user-dirs");
    case PlaceOrigin::fallback:
        return QStringLiteral("default");
    case PlaceOrigin::disabled:
        return QStringLiteral("disabled");
    case PlaceOrigin::environment:
        break;
    }
    return QStringLiteral("environment");
}
