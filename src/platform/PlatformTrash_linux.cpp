#include "PlatformTrash.h"

#include "PlatformPaths.h"
#include "ScopedDirectory.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray infoSuffix = QByteArrayLiteral(".trashinfo");
// NAME_MAX less ".trashinfo": the record's name must fit as well.
constexpr qsizetype maxTrashName = 255 - 10;
// An extension longer than this is treated as part of the name when shortening.
constexpr qsizetype maxKeptExtension = 16;
constexpr int maxAttempts = 10000;
constexpr int maxLinks = 40;

QString describe(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString homeTrashProblem(int error)
{
    return QStringLiteral("Корзина недоступна: ") + describe(error);
}

QString volumeTrashProblem(const QByteArray& topdir, const QString& reason)
{
    return QStringLiteral("Корзина на томе «") + QString::fromLocal8Bit(topdir) + QStringLiteral("» недоступна: ")
        + reason;
}

QByteArray parentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArrayLiteral("/") : path.left(slash);
}

QByteArray joined(const QByteArray& folder, const QByteArray& name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// Repeated and trailing slashes dropped. Empty when the path is not absolute,
// names nothing below the root, or has a "." or ".." component: which entry
// such a path means depends on links, and the record must name it exactly.
QByteArray cleanAbsolute(const QByteArray& path)
{
    if (!path.startsWith('/')) {
        return {};
    }
    QByteArray clean;
    for (const QByteArray& part : path.split('/')) {
        if (part.isEmpty()) {
            continue;
        }
        if (part == "." || part == "..") {
            return {};
        }
        clean += '/' + part;
    }
    return clean;
}

bool sameEntry(const FileStat& a, const FileStat& b)
{
    return a.device == b.device && a.inode == b.inode;
}

} // namespace

// The trash chosen for one item, with its folders open.
struct PlatformTrash::OpenTrash
{
    explicit OpenTrash(const FileSystem& fs)
        : folder(fs)
        , files(fs)
        , info(fs)
    {
    }

    ScopedDirectory folder;
    ScopedDirectory files;
    ScopedDirectory info;
    QByteArray path;
    // Set for a volume trash: records hold paths relative to its top, so
    // they are written from the real path of the item's folder.
    QByteArray topdir;
    QByteArray realParent;
};

PlatformTrash::PlatformTrash(FilePath dataHome, FileSystemPtr fileSystem, ClockPtr clock, TrustedRoots roots)
    : m_dataHome(std::move(dataHome))
    , m_fs(std::move(fileSystem))
    , m_clock(clock ? std::move(clock) : std::make_shared<SystemClock>())
    , m_roots(std::move(roots))
{
}

FilePath PlatformTrash::defaultDataHome()
{
    const QByteArray xdg = qgetenv("XDG_DATA_HOME");
    if (xdg.startsWith('/')) {
        return FilePath(xdg);
    }
    return PlatformPaths::home().child(QByteArrayLiteral(".local/share"));
}

FilePath PlatformTrash::homeTrashPath() const
{
    return m_dataHome.child(QByteArrayLiteral("Trash"));
}

QByteArray PlatformTrash::encodePath(const QByteArray& path)
{
    // Letters, digits and "-._~" are never encoded by Qt; the other RFC 2396
    // marks and the separator stay readable too.
    return path.toPercentEncoding(QByteArrayLiteral("!*'()/"));
}

QByteArray PlatformTrash::infoContents(const QByteArray& encodedPath, const QDateTime& deletedAt)
{
    const QString date = deletedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
    return QByteArrayLiteral("[Trash Info]\nPath=") + encodedPath + QByteArrayLiteral("\nDeletionDate=")
        + date.toLatin1() + '\n';
}

QByteArray PlatformTrash::trashName(const QByteArray& name, int attempt)
{
    QByteArray stem = name;
    QByteArray extension;
    const qsizetype dot = name.lastIndexOf('.');
    if (dot > 0 && name.size() - dot <= maxKeptExtension) {
        stem = name.left(dot);
        extension = name.mid(dot);
    }
    const QByteArray number = attempt > 1 ? '.' + QByteArray::number(attempt) : QByteArray();
    const qsizetype room = maxTrashName - number.size() - extension.size();
    if (stem.size() > room) {
        // Cut before a UTF-8 continuation byte, not inside a character.
        qsizetype cut = room;
        while (cut > 0 && (quint8(stem.at(cut)) & 0xC0) == 0x80) {
            --cut;
        }
        stem.truncate(cut > 0 ? cut : room);
    }
    return stem + number + extension;
}

TrashResult PlatformTrash::moveToTrash(const FilePath& item) const
{
    const QByteArray path = cleanAbsolute(item.native());
    if (path.isEmpty()) {
        return TrashResult::failure(describe(EINVAL));
    }
    const QByteArray parentPath = parentOf(path);
    const QByteArray name = path.mid(path.lastIndexOf('/') + 1);

    // Below the anchor no folder on the way is followed if it is a link;
    // the item itself never is (a link goes to the trash as a link).
    ScopedDirectory parent(*m_fs);
    if (const int error = m_roots.openParent(*m_fs, path, parent.receive())) {
        return TrashResult::failure(describe(error));
    }
    FileStat itemStat;
    if (!m_fs->statAt(parent.get(), name.constData(), path, false, &itemStat)) {
        return TrashResult::failure(describe(errno));
    }
    FileStat parentStat;
    if (!m_fs->statAt(parent.get(), ".", parentPath, false, &parentStat)) {
        return TrashResult::failure(describe(errno));
    }
    if (itemStat.device != parentStat.device) {
        return TrashResult::failure(QStringLiteral("Точку монтирования тома нельзя переместить в Корзину"));
    }

    OpenTrash trash(*m_fs);
    const QString problem = isHomeTrashDevice(itemStat.device) ? openHomeTrash(&trash)
                                                               : openVolumeTrash(itemStat.device, parentPath, &trash);
    if (!problem.isEmpty()) {
        return TrashResult::failure(problem);
    }

    // The kernel refuses to move a folder into itself, but the record would
    // be written first; and moving a folder that lies in the trash would
    // leave its record behind. Both are refused up front, by identity rather
    // than by path text, so links in either path change nothing.
    FileStat trashStat;
    if (!m_fs->statAt(trash.folder.get(), ".", trash.path, false, &trashStat)) {
        return TrashResult::failure(describe(errno));
    }
    if (itemStat.isDirectory && isAncestorOrSelf(itemStat, trash.folder.get(), trash.path)) {
        return TrashResult::failure(QStringLiteral("Нельзя переместить в Корзину саму Корзину или папку, в которой она лежит"));
    }
    if (isAncestorOrSelf(trashStat, parent.get(), parentPath)) {
        return TrashResult::failure(QStringLiteral("Объект уже лежит в Корзине"));
    }

    QByteArray recordedPath = path;
    if (!trash.topdir.isEmpty()) {
        const QByteArray realPath = joined(trash.realParent, name);
        recordedPath = realPath.mid(trash.topdir == "/" ? 1 : trash.topdir.size() + 1);
    }
    const QByteArray record = infoContents(encodePath(recordedPath), m_clock->now());
    const QByteArray filesPath = trash.path + QByteArrayLiteral("/files");
    const QByteArray infoPath = trash.path + QByteArrayLiteral("/info");

    for (int attempt = 1; attempt <= maxAttempts; ++attempt) {
        const QByteArray trashedName = trashName(name, attempt);
        const QByteArray infoName = trashedName + infoSuffix;
        const QByteArray infoFile = joined(infoPath, infoName);
        const QByteArray trashedFile = joined(filesPath, trashedName);

        int fd = -1;
        int error = m_fs->openFileAt(trash.info.get(), infoName.constData(), infoFile, O_WRONLY | O_CREAT | O_EXCL,
                                     0600, &fd);
        if (error == EEXIST) {
            continue;
        }
        if (error) {
            return TrashResult::failure(describe(error));
        }
        error = m_fs->writeAll(fd, record, infoFile);
        m_fs->closeFile(fd);
        if (error) {
            m_fs->removeAt(trash.info.get(), infoName.constData(), infoFile, false);
            return TrashResult::failure(describe(error));
        }

        error = m_fs->renameAt(parent.get(), name.constData(), path, trash.files.get(), trashedName.constData(),
                               trashedFile, true);
        if (error == EINVAL) {
            // Some file systems cannot promise not to replace; the record
            // reserves the name against other trash users, so an entry
            // found there now is an orphan, which is kept.
            FileStat existing;
            if (m_fs->statAt(trash.files.get(), trashedName.constData(), trashedFile, false, &existing)) {
                error = EEXIST;
            } else if (errno == ENOENT) {
                error = m_fs->renameAt(parent.get(), name.constData(), path, trash.files.get(),
                                       trashedName.constData(), trashedFile, false);
            }
        }
        if (!error) {
            TrashResult result;
            result.ok = true;
            result.trashedPath = FilePath(trashedFile);
            result.infoPath = FilePath(infoFile);
            return result;
        }
        // The item stays where it was; its record must not claim otherwise.
        m_fs->removeAt(trash.info.get(), infoName.constData(), infoFile, false);
        if (error != EEXIST) {
            return TrashResult::failure(describe(error));
        }
    }
    return TrashResult::failure(describe(EEXIST));
}

bool PlatformTrash::isHomeTrashDevice(quint64 device) const
{
    // The trash may not exist yet: then the nearest folder above it that does
    // tells where it will be made.
    QByteArray path = homeTrashPath().native();
    FileStat st;
    for (;;) {
        if (m_fs->stat(path, true, &st)) {
            return st.device == device;
        }
        if (path == "/" || path.isEmpty()) {
            return false;
        }
        path = parentOf(path);
    }
}

QString PlatformTrash::openHomeTrash(OpenTrash* trash) const
{
    const QByteArray dataHome = cleanAbsolute(m_dataHome.native());
    if (dataHome.isEmpty()) {
        return homeTrashProblem(EINVAL);
    }
    // Missing folders of the data home are made private, as for any data
    // folder of the user.
    QList<QByteArray> missing;
    for (QByteArray path = dataHome; path != "/"; path = parentOf(path)) {
        FileStat st;
        if (m_fs->stat(path, true, &st)) {
            break;
        }
        missing.prepend(path);
    }
    for (const QByteArray& path : std::as_const(missing)) {
        const int error = m_fs->makeDirectoryAt(FileSystem::CurrentDirectory, path.constData(), path, 0700);
        if (error && error != EEXIST) {
            return homeTrashProblem(error);
        }
    }
    ScopedDirectory data(*m_fs, m_fs->openDirectory(FileSystem::CurrentDirectory, dataHome.constData(), dataHome));
    if (!data.isOpen()) {
        return homeTrashProblem(errno);
    }
    trash->path = joined(dataHome, QByteArrayLiteral("Trash"));
    if (const int error = openOrCreate(data.get(), QByteArrayLiteral("Trash"), trash->path, &trash->folder)) {
        return homeTrashProblem(error);
    }
    if (const int error = openTrashFolders(trash)) {
        return homeTrashProblem(error);
    }
    return {};
}

QString PlatformTrash::openVolumeTrash(quint64 device, const QByteArray& parentPath, OpenTrash* trash) const
{
    if (const int error = canonicalPath(parentPath, &trash->realParent)) {
        return describe(error);
    }
    QByteArray topdir = trash->realParent;
    while (topdir != "/") {
        const QByteArray up = parentOf(topdir);
        FileStat st;
        if (!m_fs->stat(up, false, &st) || st.device != device) {
            break;
        }
        topdir = up;
    }
    trash->topdir = topdir;

    ScopedDirectory top(*m_fs, m_fs->openDirectory(FileSystem::CurrentDirectory, topdir.constData(), topdir));
    if (!top.isOpen()) {
        return volumeTrashProblem(topdir, describe(errno));
    }
    const QByteArray uid = QByteArray::number(qulonglong(::getuid()));

    // The administrator's shared trash counts only as a real sticky folder:
    // in any other .Trash another user could take our files away.
    const QByteArray shared = joined(topdir, QByteArrayLiteral(".Trash"));
    FileStat sharedStat;
    if (m_fs->statAt(top.get(), ".Trash", shared, false, &sharedStat) && sharedStat.isDirectory
        && !sharedStat.isSymlink && (sharedStat.permissions & S_ISVTX)) {
        ScopedDirectory sharedFolder(*m_fs);
        trash->path = joined(shared, uid);
        if (!m_fs->openDirectoryNoFollow(top.get(), ".Trash", shared, sharedFolder.receive())
            && !openOrCreate(sharedFolder.get(), uid, trash->path, &trash->folder)
            && isPrivateFolder(trash->folder.get(), trash->path) && !openTrashFolders(trash)) {
            return {};
        }
        trash->folder.reset();
        trash->files.reset();
        trash->info.reset();
    }

    const QByteArray ownName = QByteArrayLiteral(".Trash-") + uid;
    trash->path = joined(topdir, ownName);
    if (const int error = openOrCreate(top.get(), ownName, trash->path, &trash->folder)) {
        return volumeTrashProblem(topdir, describe(error));
    }
    if (!isPrivateFolder(trash->folder.get(), trash->path)) {
        return volumeTrashProblem(topdir, QStringLiteral("папка ") + QString::fromLocal8Bit(ownName)
                                              + QStringLiteral(" открыта для записи другим пользователям"));
    }
    if (const int error = openTrashFolders(trash)) {
        return volumeTrashProblem(topdir, describe(error));
    }
    return {};
}

int PlatformTrash::openOrCreate(int dirFd, const QByteArray& name, const QByteArray& fullPath,
                                ScopedDirectory* out) const
{
    const int error = m_fs->makeDirectoryAt(dirFd, name.constData(), fullPath, 0700);
    if (error && error != EEXIST) {
        return error;
    }
    return m_fs->openDirectoryNoFollow(dirFd, name.constData(), fullPath, out->receive());
}

int PlatformTrash::openTrashFolders(OpenTrash* trash) const
{
    if (const int error = openOrCreate(trash->folder.get(), QByteArrayLiteral("files"),
                                       trash->path + QByteArrayLiteral("/files"), &trash->files)) {
        return error;
    }
    return openOrCreate(trash->folder.get(), QByteArrayLiteral("info"), trash->path + QByteArrayLiteral("/info"),
                        &trash->info);
}

bool PlatformTrash::isPrivateFolder(int fd, const QByteArray& path) const
{
    FileStat st;
    return m_fs->statAt(fd, ".", path, false, &st) && !(st.permissions & (S_IWGRP | S_IWOTH));
}

bool PlatformTrash::isAncestorOrSelf(const FileStat& candidate, int dirFd, const QByteArray& path) const
{
    // ".." is resolved by the kernel on the real tree, whatever links led here.
    QByteArray relative = QByteArrayLiteral(".");
    FileStat previous;
    for (int level = 0; level < PATH_MAX / 3; ++level) {
        FileStat st;
        if (!m_fs->statAt(dirFd, relative.constData(), joined(path, relative), true, &st)) {
            return false;
        }
        if (sameEntry(st, candidate)) {
            return true;
        }
        if (level > 0 && sameEntry(st, previous)) {
            return false; // the root is its own parent
        }
        previous = st;
        relative = level == 0 ? QByteArrayLiteral("..") : relative + QByteArrayLiteral("/..");
    }
    return false;
}

int PlatformTrash::canonicalPath(const QByteArray& path, QByteArray* out) const
{
    // Components still to resolve, the next one last.
    QList<QByteArray> pending;
    const QList<QByteArray> parts = path.split('/');
    for (auto it = parts.crbegin(); it != parts.crend(); ++it) {
        pending.append(*it);
    }
    QByteArray resolved;
    int links = 0;
    while (!pending.isEmpty()) {
        const QByteArray part = pending.takeLast();
        if (part.isEmpty() || part == ".") {
            continue;
        }
        if (part == "..") {
            resolved.truncate(std::max<qsizetype>(0, resolved.lastIndexOf('/')));
            continue;
        }
        const QByteArray next = resolved + '/' + part;
        FileStat st;
        if (!m_fs->stat(next, false, &st)) {
            return errno;
        }
        if (!st.isSymlink) {
            resolved = next;
            continue;
        }
        if (++links > maxLinks) {
            return ELOOP;
        }
        QByteArray target;
        if (const int error = m_fs->readLinkAt(FileSystem::CurrentDirectory, next.constData(), next, &target)) {
            return error;
        }
        if (target.startsWith('/')) {
            resolved.clear();
        }
        const QList<QByteArray> targetParts = target.split('/');
        for (auto it = targetParts.crbegin(); it != targetParts.crend(); ++it) {
            pending.append(*it);
        }
    }
    *out = resolved.isEmpty() ? QByteArrayLiteral("/") : resolved;
    return 0;
}
