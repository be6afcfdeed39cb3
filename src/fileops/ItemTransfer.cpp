#include "ItemTransfer.h"

#include "TreeRemover.h"
#include "platform/ProcessTag.h"

#include <QHashFunctions>
#include <QUuid>

#include <cerrno>
#include <cstring>

#include <fcntl.h>

struct ItemTransfer::Tally
{
    qsizetype rootLength = 0;
    qint64 entries = 0;
    qint64 bytes = 0;
    // Order-independent: the copy and the source are read in different orders.
    quint64 fingerprint = 0;

    void add(const QByteArray& path, char kind, qint64 size, qint64 modifiedNs, const QByteArray& linkTarget = {})
    {
        const QByteArray relative = path.mid(rootLength);
        QByteArray key = relative;
        key.append('\0').append(kind).append('\0').append(QByteArray::number(size));
        key.append('\0').append(QByteArray::number(modifiedNs)).append('\0').append(linkTarget);
        // Two different seeds make an accidental match of a changed tree vanishingly unlikely.
        const quint64 h = (quint64(qHashBits(key.constData(), size_t(key.size()), 0x9e3779b9)) << 32)
            ^ quint64(qHashBits(key.constData(), size_t(key.size()), 0x85ebca6b));
        fingerprint ^= h;
        ++entries;
        bytes += size;
    }

    bool operator==(const Tally& other) const
    {
        return entries == other.entries && bytes == other.bytes && fingerprint == other.fingerprint;
    }
};

namespace {

QByteArray joined(const QByteArray& folder, const char* name)
{
    QByteArray path = folder;
    if (!path.endsWith('/')) {
        path.append('/');
    }
    return path.append(name);
}

class Descriptor
{
public:
    Descriptor(const FileSystem& fs, int fd, bool directory)
        : m_fs(fs)
        , m_fd(fd)
        , m_directory(directory)
    {
    }
    ~Descriptor()
    {
        if (m_fd >= 0) {
            m_directory ? m_fs.closeDirectory(m_fd) : m_fs.closeFile(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    const FileSystem& m_fs;
    int m_fd;
    bool m_directory;
};

} // namespace

ItemTransfer::ItemTransfer(FileSystemPtr fileSystem, FilePath anchor)
    : m_fs(std::move(fileSystem))
    , m_anchor(std::move(anchor))
{
}

QString ItemTransfer::describe(int errnoValue)
{
    return QString::fromLocal8Bit(std::strerror(errnoValue));
}

int ItemTransfer::makePath(const FilePath& folder) const
{
    FileStat st;
    if (m_fs->stat(folder.native(), true, &st)) {
        return st.isDirectory ? 0 : ENOTDIR;
    }
    const FilePath parent = folder.parent();
    if (!parent.isEmpty() && parent != folder) {
        if (const int error = makePath(parent)) {
            return error;
        }
    }
    const int error = m_fs->makeDirectoryAt(FileSystem::CurrentDirectory, folder.native().constData(),
                                            folder.native(), 0755);
    return error == EEXIST && m_fs->stat(folder.native(), true, &st) && st.isDirectory ? 0 : error;
}

ItemTransfer::Result ItemTransfer::move(const FilePath& source, const FilePath& target) const
{
    FileStat item;
    if (!m_fs->stat(source.native(), false, &item)) {
        return {Outcome::failed, describe(ENOENT)};
    }
    if (item.isDirectory) {
        // A folder cannot go inside itself: look for it among the target's ancestors.
        for (FilePath up = target.parent(); !up.isEmpty(); up = up.parent()) {
            FileStat ancestor;
            if (m_fs->stat(up.native(), true, &ancestor) && ancestor.device == item.device
                && ancestor.inode == item.inode) {
                return {Outcome::failed, describe(EINVAL)};
            }
            if (up.native() == "/") {
                break;
            }
        }
    }
    int sourceFd = -1;
    if (const int error = m_fs->openParentBeneath(m_anchor.native(), source.native(), &sourceFd)) {
        return {Outcome::failed, describe(error)};
    }
    const Descriptor sourceDir(*m_fs, sourceFd, true);
    const QByteArray sourceName = source.fileNameNative();
    const int error = m_fs->renameAt(sourceDir.get(), sourceName.constData(), source.native(),
                                     FileSystem::CurrentDirectory, target.native().constData(), target.native(),
                                     true);
    if (error == 0) {
        return {Outcome::moved, {}};
    }
    if (error != EXDEV) {
        return {Outcome::failed, describe(error)};
    }
    return copyThenRemove(source, target);
}

ItemTransfer::Result ItemTransfer::copyThenRemove(const FilePath& source, const FilePath& target) const
{
    const FilePath targetFolder = target.parent();
    const int targetFd = m_fs->openDirectory(FileSystem::CurrentDirectory, targetFolder.native().constData(),
                                             targetFolder.native());
    if (targetFd < 0) {
        return {Outcome::failed, describe(errno)};
    }
    const Descriptor targetDir(*m_fs, targetFd, true);
    int sourceFd = -1;
    if (const int error = m_fs->openParentBeneath(m_anchor.native(), source.native(), &sourceFd)) {
        return {Outcome::failed, describe(error)};
    }
    const Descriptor sourceDir(*m_fs, sourceFd, true);

    const QByteArray sourceName = source.fileNameNative();
    const QByteArray targetName = target.fileNameNative();
    const QByteArray partialName = ProcessTag::uniqueName(partialPrefix);
    const QByteArray partialPath = joined(targetFolder.native(), partialName.constData());

    const auto discardPartial = [&](int cause) -> Result {
        QString text = describe(cause);
        if (removeTree(partialPath) != 0) {
            text += QStringLiteral(" (неполная копия осталась: %1)").arg(QString::fromLocal8Bit(partialPath));
        }
        return {Outcome::failed, text};
    };

    Tally copied;
    copied.rootLength = source.native().size();
    if (const int error = copyEntry(sourceDir.get(), sourceName.constData(), source.native(), targetDir.get(),
                                    partialName.constData(), partialPath, &copied)) {
        return discardPartial(error);
    }
    if (const int error = m_fs->syncFileSystem(targetDir.get(), targetFolder.native())) {
        return discardPartial(error);
    }
    // What arrived must be what was read, and the source must not have changed
    // meanwhile (a change made during the copy would be lost with the source).
    Tally arrived;
    arrived.rootLength = partialPath.size();
    Tally sourceNow;
    sourceNow.rootLength = source.native().size();
    const int arrivedError = measure(targetDir.get(), partialName.constData(), partialPath, &arrived);
    if (arrivedError) {
        return discardPartial(arrivedError);
    }
    const int sourceError = measure(sourceDir.get(), sourceName.constData(), source.native(), &sourceNow);
    if (sourceError) {
        return discardPartial(sourceError);
    }
    if (!(arrived == copied) || !(sourceNow == copied)) {
        return discardPartial(EIO);
    }
    if (const int error = m_fs->renameAt(targetDir.get(), partialName.constData(), partialPath, targetDir.get(),
                                         targetName.constData(), target.native(), true)) {
        return discardPartial(error);
    }
    if (const int error = removeTree(source.native())) {
        return {Outcome::copiedSourceKept, describe(error)};
    }
    return {Outcome::moved, {}};
}

int ItemTransfer::copyEntry(int fromDir, const char* fromName, const QByteArray& fromPath, int toDir,
                            const char* toName, const QByteArray& toPath, Tally* tally) const
{
    FileStat st;
    if (!m_fs->statAt(fromDir, fromName, fromPath, false, &st)) {
        return errno ? errno : ENOENT;
    }
    if (st.isSymlink) {
        QByteArray linkTarget;
        if (const int error = m_fs->readLinkAt(fromDir, fromName, fromPath, &linkTarget)) {
            return error;
        }
        if (const int error = m_fs->symlinkAt(linkTarget, toDir, toName, toPath)) {
            return error;
        }
        tally->add(fromPath, 'l', 0, st.modifiedNs, linkTarget);
        return m_fs->setAttributesAt(toDir, toName, toPath, -1, st.accessedNs, st.modifiedNs);
    }
    if (st.isRegular) {
        int in = -1;
        if (const int error = m_fs->openFileAt(fromDir, fromName, fromPath, O_RDONLY, 0, &in)) {
            return error;
        }
        const Descriptor input(*m_fs, in, false);
        int out = -1;
        if (const int error = m_fs->openFileAt(toDir, toName, toPath, O_WRONLY | O_CREAT | O_EXCL, 0600, &out)) {
            return error;
        }
        const Descriptor output(*m_fs, out, false);
        if (const int error = m_fs->copyFileData(input.get(), output.get(), st.size, fromPath, toPath)) {
            return error;
        }
        tally->add(fromPath, 'f', st.size, st.modifiedNs);
        return m_fs->setAttributesAt(toDir, toName, toPath, int(st.permissions), st.accessedNs, st.modifiedNs);
    }
    if (st.isDirectory) {
        if (fromPath.mid(tally->rootLength).count('/') >= FileSystem::maxTreeDepth) {
            return ENAMETOOLONG;
        }
        if (const int error = m_fs->makeDirectoryAt(toDir, toName, toPath, 0700)) {
            return error;
        }
        int from = -1;
        if (const int error = m_fs->openDirectoryNoFollow(fromDir, fromName, fromPath, &from)) {
            return error;
        }
        const Descriptor fromFolder(*m_fs, from, true);
        int to = -1;
        if (const int error = m_fs->openDirectoryNoFollow(toDir, toName, toPath, &to)) {
            return error;
        }
        const Descriptor toFolder(*m_fs, to, true);
        if (const int error = copyDirectoryContents(fromFolder.get(), fromPath, toFolder.get(), toPath, tally)) {
            return error;
        }
        tally->add(fromPath, 'd', 0, st.modifiedNs);
        // Last, so that copying the contents does not change the folder's times.
        return m_fs->setAttributesAt(toDir, toName, toPath, int(st.permissions), st.accessedNs, st.modifiedNs);
    }
    // Sockets, pipes and devices cannot be copied as data.
    return EOPNOTSUPP;
}

int ItemTransfer::copyDirectoryContents(int fromFd, const QByteArray& fromPath, int toFd, const QByteArray& toPath,
                                        Tally* tally) const
{
    DirectoryNames names;
    if (!m_fs->readDirectory(fromFd, fromPath, &names)) {
        return errno ? errno : EIO;
    }
    for (const DirectoryNames::Name& n : names.names) {
        const char* name = names.buffer.constData() + n.offset;
        if (const int error =
                copyEntry(fromFd, name, joined(fromPath, name), toFd, name, joined(toPath, name), tally)) {
            return error;
        }
    }
    return 0;
}

int ItemTransfer::measure(int dirFd, const char* name, const QByteArray& path, Tally* tally) const
{
    FileStat st;
    if (!m_fs->statAt(dirFd, name, path, false, &st)) {
        return errno ? errno : ENOENT;
    }
    if (st.isSymlink) {
        QByteArray linkTarget;
        if (const int error = m_fs->readLinkAt(dirFd, name, path, &linkTarget)) {
            return error;
        }
        tally->add(path, 'l', 0, st.modifiedNs, linkTarget);
        return 0;
    }
    if (!st.isDirectory) {
        tally->add(path, st.isRegular ? 'f' : 'o', st.isRegular ? st.size : 0, st.modifiedNs);
        return 0;
    }
    if (path.mid(tally->rootLength).count('/') >= FileSystem::maxTreeDepth) {
        return ENAMETOOLONG;
    }
    int fd = -1;
    if (const int error = m_fs->openDirectoryNoFollow(dirFd, name, path, &fd)) {
        return error;
    }
    const Descriptor folder(*m_fs, fd, true);
    DirectoryNames names;
    if (!m_fs->readDirectory(folder.get(), path, &names)) {
        return errno ? errno : EIO;
    }
    for (const DirectoryNames::Name& n : names.names) {
        const char* child = names.buffer.constData() + n.offset;
        if (const int error = measure(folder.get(), child, joined(path, child), tally)) {
            return error;
        }
    }
    tally->add(path, 'd', 0, st.modifiedNs);
    return 0;
}

int ItemTransfer::removeTree(const QByteArray& path) const
{
    const TreeRemover::Result removed = TreeRemover(m_fs, m_anchor).remove(FilePath(path));
    return removed.error == ENOENT && removed.failedPath.native() == path ? 0 : removed.error;
}
