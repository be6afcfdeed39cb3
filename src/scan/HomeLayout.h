#pragma once

#include "base/FilePath.h"
#include "platform/FileSystem.h"

#include <QList>
#include <QMetaType>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

class QProcessEnvironment;

// The user folders every desktop names, in the order places are listed.
enum class UserFolder {
    desktop,
    downloads,
    documents,
    videos,
    music,
    pictures,
};

// Where a place of the layout came from.
enum class PlaceOrigin {
    // The system's fixed name for it.
    fixed,
    // A line of the user's user-dirs file.
    userDirs,
    // The file or its line is missing or unusable: the usual name.
    fallback,
    // The user-dirs line points at the home folder itself: not scanned.
    disabled,
    // An XDG_*_HOME variable of the environment.
    environment,
};

// One resolved user folder. path is empty when the folder is disabled.
struct UserFolderPlace
{
    UserFolder folder = UserFolder::desktop;
    // The user-dirs key ("XDG_DOWNLOAD_DIR"), or the fixed name.
    QString key;
    FilePath path;
    PlaceOrigin origin = PlaceOrigin::fixed;
};

// A folder the appCaches rule sizes and explains. folder is relative to the
// home folder; a "*" component stands for every name at that level.
struct AppCacheFolder
{
    QString label;
    QString folder;
    QString instruction;
};

// A cache that its program rebuilds on its own, offered by the safe cleanup.
struct SafeCacheFolder
{
    QString label;
    QString folder;
};

// A protected tree: the folder (relative to the home, "*" for any one name)
// and everything below it are never deleted, except below a name that
// matches allowedBelow ("*" wildcards; empty: no exception).
struct ProtectedArea
{
    QString folder;
    QString allowedBelow;
};

// The path-text tables the cache classifier runs on.
struct CacheRules
{
    // A path containing any of these is protected.
    QStringList protectedTexts;
    QList<ProtectedArea> protectedAreas;
    // A path ending with any of these is a known safe folder.
    QStringList safeSuffixes;
    // Home-relative patterns of known safe folders.
    QStringList safeFolders;
    // Text that marks the inside of a cache area anywhere in a path
    // ("/Library/Caches/", "/.cache/").
    QString cacheMarker;
    // Text that marks the inside of a log area, and the crash-report word
    // that makes it protected; both empty where logs are never rated.
    QString logMarker;
    QString crashReportsWord;
};

// Texts that name this system's own tools.
struct LayoutTexts
{
    QString logsDetail;
    QString cachesDetail;
    QString trashDetail;
    // Followed by nothing: the journal row says how to trim it itself.
    QString journalDetail;
    QString revealItem;
    QString revealItemHelp;
    QString revealFolderHelp;
    QString revealParentHelp;
    QString trashRestoreHint;
    QString healthTitle;
};

// Where things live in one user's home folder: the user folders, the cache,
// log and Trash areas, the application tables of the cache rules, installer
// types and the default archive folder, with the texts that go with them.
// Built once per home (AppEnvironment) and handed to every service that
// looks at the home. A value: copies share their lists.
//
// Two builders: original() is the layout of the system the program comes
// from; freedesktop() follows the XDG base-directory and user-dirs
// conventions. forThisSystem() is the one the platform picks (chosen by file
// in the build).
class HomeLayout
{
public:
    static HomeLayout original(const FilePath& home);
    // Reads $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config). User
    // folders and the cache folder count only when they lie inside the home:
    // every rule that deletes or moves stays there. journalRoots hold the
    // systemd journal folders, uid is the user whose journal is sized.
    static HomeLayout freedesktop(const FilePath& home, const QProcessEnvironment& environment,
                                  QList<FilePath> journalRoots = {}, uint uid = 0);
    static HomeLayout forThisSystem(const FilePath& home, const QProcessEnvironment& environment);

    const FilePath& home() const { return m_home; }
    // The folder, or nothing when the user disabled it.
    std::optional<FilePath> userFolder(UserFolder folder) const;
    const QList<UserFolderPlace>& userFolders() const { return m_userFolders; }
    // Where the user-dirs file was looked for (empty for the original layout).
    const FilePath& userDirsFile() const { return m_userDirsFile; }
    // Names of the home folder's children that are user folders.
    QSet<QByteArray> userFolderNames() const;
    // The path below the home ("Загрузки", "media/Видео"), empty when the
    // folder is disabled or is the home itself.
    QByteArray relativeToHome(const FilePath& path) const;

    const FilePath& userCaches() const { return m_userCaches; }
    PlaceOrigin userCachesOrigin() const { return m_userCachesOrigin; }
    // Home-relative patterns of log files or folders the junk rule sizes.
    const QStringList& logPlaces() const { return m_logPlaces; }
    const QList<FilePath>& journalRoots() const { return m_journalRoots; }
    uint journalUid() const { return m_uid; }
    const FilePath& trash() const { return m_trash; }
    PlaceOrigin trashOrigin() const { return m_trashOrigin; }
    // Depth of the Trash walk: the items themselves sit this deep.
    int trashDepth() const { return m_trashDepth; }
    const QList<AppCacheFolder>& appCaches() const { return m_appCaches; }
    const QList<SafeCacheFolder>& safeCaches() const { return m_safeCaches; }
    const CacheRules& cacheRules() const { return m_cacheRules; }
    // Lower-case extensions without the dot.
    const QSet<QString>& installerExtensions() const { return m_installerExtensions; }
    bool isInstaller(const QString& fileName) const;
    const FilePath& defaultArchiveFolder() const { return m_defaultArchiveFolder; }
    // Excluded folder names that walks inside the cache, log and Trash
    // areas no longer exclude (beside "Library" and ".Trash").
    const QStringList& serviceAreaNames() const { return m_serviceAreaNames; }
    const LayoutTexts& texts() const { return m_texts; }

    // The existing paths a home-relative pattern names; "*" matches any
    // name of its level, hidden names included.
    QList<FilePath> expand(const QString& pattern, const FileSystem& fs) const;

    static QString folderName(UserFolder folder);
    static QString originName(PlaceOrigin origin);

private:
    FilePath m_home;
    QList<UserFolderPlace> m_userFolders;
    FilePath m_userDirsFile;
    FilePath m_userCaches;
    PlaceOrigin m_userCachesOrigin = PlaceOrigin::fixed;
    QStringList m_logPlaces;
    QList<FilePath> m_journalRoots;
    uint m_uid = 0;
    FilePath m_trash;
    PlaceOrigin m_trashOrigin = PlaceOrigin::fixed;
    int m_trashDepth = 3;
    QList<AppCacheFolder> m_appCaches;
    QList<SafeCacheFolder> m_safeCaches;
    CacheRules m_cacheRules;
    QSet<QString> m_installerExtensions;
    FilePath m_defaultArchiveFolder;
    QStringList m_serviceAreaNames;
    LayoutTexts m_texts;
};

Q_DECLARE_METATYPE(HomeLayout)
