#include "ItemTransfer.h"

#include "TreeRemover.h"
#include "platform/FolderStack.h"
#include "platform/ProcessTag.h"

#include <QHashFunctions>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <vector>

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

ItemTransfer::ItemTransfer(FileSystemPtr fileSystem, TrustedRoots roots)
    : m_fs(std::move(fileSystem))
    , m_roots(std::move(roots))
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
    if (const int error = m_roots.openParent(*m_fs, source.native(), &sourceFd)) {
        return {Outcome::failed, describe(error)};
    }
    const Descriptor sourceDir(*m_fs, sourceFd, true);
    int targetFd = -1;
    if (const int error = m_roots.openParent(*m_fs, target.native(), &targetFd)) {
        return {Outcome::failed, describe(error)};
    }
    const Descriptor targetDir(*m_fs, targetFd, true);
    const QByteArray sourceName = source.fileNameNative();
    const QByteArray targetName = target.fileNameNative();
    const int error = m_fs->renameAt(sourceDir.get(), sourceName.constData(), source.native(), targetDir.get(),
                                     targetName.constData(), target.native(), true);
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
    int targetFd = -1;
    if (const int error = m_roots.openParent(*m_fs, target.native(), &targetFd)) {
        return {Outcome::failed, describe(error)};
    }
    const Descriptor targetDir(*m_fs, targetFd, true);
    int sourceFd = -1;
    if (const int error = m_roots.openParent(*m_fs, source.native(), &sourceFd)) {
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

int ItemTransfer::copyLeaf(int fromDir, const char* fromName, const QByteArray& fromPath, const FileStat& st,
                           int toDir, const char* toName, const QByteArray& toPath, Tally* tally) const
{
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
    // Sockets, pipes and devices cannot be copied as data.
    return EOPNOTSUPP;
}

int ItemTransfer::copyEntry(int fromDir, const char* fromName, const QByteArray& fromPath, int toDir,
                            const char* toName, const QByteArray& toPath, Tally* tally) const
{
    FileStat st;
    if (!m_fs->statAt(fromDir, fromName, fromPath, false, &st)) {
        return errno ? errno : ENOENT;
    }
    if (!st.isDirectory) {
        return copyLeaf(fromDir, fromName, fromPath, st, toDir, toName, toPath, tally);
    }
    // Depth first without recursion, so that no depth of tree can exhaust
    // the stack or the descriptors.
    struct Frame
    {
        DirectoryNames names;
        qsizetype next = 0;
        QByteArray toName;
        FileStat st;
        qsizetype fromLength = 0;
        qsizetype toLength = 0;
    };
    FolderStack from(*m_fs, fromDir);
    FolderStack to(*m_fs, toDir);
    std::vector<Frame> stack;
    QByteArray fromNow = fromPath;
    QByteArray toNow = toPath;
    const auto enter = [&](const char* fromChild, const char* toChild, const FileStat& folder) {
        if (const int error = m_fs->makeDirectoryAt(to.top(), toChild, toNow, 0700)) {
            return error;
        }
        if (const int error = from.push(fromChild, fromNow)) {
            return error;
        }
        if (const int error = to.push(toChild, toNow)) {
            return error;
        }
        Frame frame{{}, 0, QByteArray(toChild), folder, fromNow.size(), toNow.size()};
        if (!m_fs->readDirectory(from.top(), fromNow, &frame.names)) {
            return errno ? errno : EIO;
        }
        stack.push_back(std::move(frame));
        return 0;
    };
    if (const int error = enter(fromName, toName, st)) {
        return error;
    }
    while (!stack.empty()) {
        Frame& frame = stack.back();
        fromNow.truncate(frame.fromLength);
        toNow.truncate(frame.toLength);
        if (frame.next < frame.names.names.size()) {
            const DirectoryNames::Name& n = frame.names.names.at(frame.next++);
            const QByteArray name(frame.names.buffer.constData() + n.offset, n.length);
            fromNow += '/' + name;
            toNow += '/' + name;
            FileStat child;
            if (!m_fs->statAt(from.top(), name.constData(), fromNow, false, &child)) {
                return errno ? errno : ENOENT;
            }
            // enter may grow the stack: frame is not used after it.
            const int error = child.isDirectory
                ? enter(name.constData(), name.constData(), child)
                : copyLeaf(from.top(), name.constData(), fromNow, child, to.top(), name.constData(), toNow, tally);
            if (error) {
                return error;
            }
            continue;
        }
        const QByteArray folderName = frame.toName;
        const FileStat folder = frame.st;
        stack.pop_back();
        if (const int error = from.pop(fromNow.left(fromNow.lastIndexOf('/')))) {
            return error;
        }
        if (const int error = to.pop(toNow.left(toNow.lastIndexOf('/')))) {
            return error;
        }
        tally->add(fromNow, 'd', 0, folder.modifiedNs);
        // Last, so that copying the contents does not change the folder's times.
        if (const int error = m_fs->setAttributesAt(to.top(), folderName.constData(), toNow, int(folder.permissions),
                                                    folder.accessedNs, folder.modifiedNs)) {
            return error;
        }
    }
    return 0;
}

int ItemTransfer::measure(int dirFd, const char* name, const QByteArray& path, Tally* tally) const
{
    const auto measureOne = [&](int folderFd, const char* entry, const QByteArray& entryPath, const FileStat& st) {
        if (st.isSymlink) {
            QByteArray linkTarget;
            if (const int error = m_fs->readLinkAt(folderFd, entry, entryPath, &linkTarget)) {
                return error;
            }
            tally->add(entryPath, 'l', 0, st.modifiedNs, linkTarget);
        } else {
            tally->add(entryPath, st.isRegular ? 'f' : 'o', st.isRegular ? st.size : 0, st.modifiedNs);
        }
        return 0;
    };
    FileStat st;
    if (!m_fs->statAt(dirFd, name, path, false, &st)) {
        return errno ? errno : ENOENT;
    }
    if (!st.isDirectory) {
        return measureOne(dirFd, name, path, st);
    }
    struct Frame
    {
        DirectoryNames names;
        qsizetype next = 0;
        qint64 modifiedNs = 0;
        qsizetype length = 0;
    };
    FolderStack folders(*m_fs, dirFd);
    std::vector<Frame> stack;
    QByteArray now = path;
    const auto enter = [&](const char* folder, qint64 modifiedNs) {
        if (const int error = folders.push(folder, now)) {
            return error;
        }
        Frame frame{{}, 0, modifiedNs, now.size()};
        if (!m_fs->readDirectory(folders.top(), now, &frame.names)) {
            return errno ? errno : EIO;
        }
        stack.push_back(std::move(frame));
        return 0;
    };
    if (const int error = enter(name, st.modifiedNs)) {
        return error;
    }
    while (!stack.empty()) {
        Frame& frame = stack.back();
        now.truncate(frame.length);
        if (frame.next < frame.names.names.size()) {
            const DirectoryNames::Name& n = frame.names.names.at(frame.next++);
            const QByteArray child(frame.names.buffer.constData() + n.offset, n.length);
            now += '/' + child;
            FileStat childStat;
            if (!m_fs->statAt(folders.top(), child.constData(), now, false, &childStat)) {
                return errno ? errno : ENOENT;
            }
            // enter may grow the stack: frame is not used after it.
            const int error = childStat.isDirectory ? enter(child.constData(), childStat.modifiedNs)
                                                    : measureOne(folders.top(), child.constData(), now, childStat);
            if (error) {
                return error;
            }
            continue;
        }
        tally->add(now, 'd', 0, frame.modifiedNs);
        stack.pop_back();
        if (const int error = folders.pop(now.left(now.lastIndexOf('/')))) {
            return error;
        }
    }
    return 0;
}

int ItemTransfer::removeTree(const QByteArray& path) const
{
    const TreeRemover::Result removed = TreeRemover(m_fs, m_roots).remove(FilePath(path));
    return removed.error == ENOENT && removed.failedPath.native() == path ? 0 : removed.error;
}
