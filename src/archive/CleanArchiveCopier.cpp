#include "CleanArchiveCopier.h"

#include "CleanArchiveDigest.h"
#include "DescriptorReader.h"
#include "Sha256.h"
#include "fileops/ItemTransfer.h"
#include "fileops/TreeRemover.h"
#include "platform/ScopedDirectory.h"

#include <QList>

#include <cerrno>

#include <fcntl.h>

struct CleanArchiveCopier::Run
{
    const Options& options;
    Result* result;
    QByteArray buffer;
    QList<QByteArray> lines;
    qint64 bytes = 0;

    int fail(int error, const QByteArray& path)
    {
        if (!result->error) {
            result->error = error;
            result->failedPath = FilePath(path);
        }
        return error;
    }
};

namespace {

constexpr qsizetype bufferSize = 1 << 20;

QByteArray joined(const QByteArray& folder, const char* name)
{
    QByteArray path = folder;
    if (!path.endsWith('/')) {
        path.append('/');
    }
    return path.append(name);
}

qint64 spaceOf(const FileStat& st)
{
    return st.hasAllocatedSize ? st.allocatedSize : st.size;
}

int lastErrno()
{
    return errno ? errno : EIO;
}

// Closes a descriptor opened through the FileSystem when it goes out of scope.
class FileDescriptor
{
public:
    explicit FileDescriptor(const FileSystem& fs)
        : m_fs(fs)
    {
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0) {
            m_fs.closeFile(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int* receive() { return &m_fd; }
    int get() const { return m_fd; }

private:
    const FileSystem& m_fs;
    int m_fd = -1;
};

} // namespace

QString CleanArchiveCopier::Result::message() const
{
    if (!error) {
        return {};
    }
    return ItemTransfer::describe(error) + QStringLiteral(" (") + failedPath.toString() + QStringLiteral(")");
}

CleanArchiveCopier::CleanArchiveCopier(FileSystemPtr fileSystem)
    : m_fs(std::move(fileSystem))
{
}

CleanArchiveCopier::Result CleanArchiveCopier::copy(const FilePath& source, const FilePath& target,
                                                    const Options& options) const
{
    Result result;
    Run run{options, &result, {}, {}, 0};
    run.buffer.resize(bufferSize);

    const FilePath targetFolder = target.parent();
    const QByteArray targetName = target.fileNameNative();
    ScopedDirectory targetParent(*m_fs, m_fs->openDirectory(FileSystem::CurrentDirectory,
                                                            targetFolder.native().constData(), targetFolder.native()));
    if (!targetParent.isOpen()) {
        run.fail(lastErrno(), targetFolder.native());
        return result;
    }

    FileStat st;
    if (!m_fs->stat(source.native(), options.followSourceRoot, &st)) {
        run.fail(lastErrno(), source.native());
        return result;
    }
    if (st.isDirectory) {
        result.isDirectory = true;
        ScopedDirectory from(*m_fs);
        if (options.followSourceRoot) {
            from.reset(m_fs->openDirectory(FileSystem::CurrentDirectory, source.native().constData(), source.native()));
            if (!from.isOpen()) {
                run.fail(lastErrno(), source.native());
                return result;
            }
        } else if (const int error = m_fs->openDirectoryNoFollow(FileSystem::CurrentDirectory,
                                                                 source.native().constData(), source.native(),
                                                                 from.receive())) {
            run.fail(error, source.native());
            return result;
        }
        if (const int error = m_fs->makeDirectoryAt(targetParent.get(), targetName.constData(), target.native(), 0700)) {
            run.fail(error, target.native());
            return result;
        }
        ScopedDirectory to(*m_fs);
        if (const int error = m_fs->openDirectoryNoFollow(targetParent.get(), targetName.constData(), target.native(),
                                                          to.receive())) {
            run.fail(error, target.native());
            return result;
        }
        if (copyContents(from.get(), source.native(), to.get(), target.native(), QByteArray(), &run)) {
            return result;
        }
        // Last, so that filling the folder does not change its times.
        if (const int error = m_fs->setAttributesAt(targetParent.get(), targetName.constData(), target.native(),
                                                    int(st.permissions & options.permissionMask), st.accessedNs,
                                                    st.modifiedNs)) {
            run.fail(error, target.native());
            return result;
        }
        result.size = run.bytes;
        if (options.digest) {
            result.sha256 = CleanArchiveDigest::digestOfLines(std::move(run.lines));
        }
        return result;
    }

    // A single item. A link at the root is copied as the link it is unless
    // it may be followed and leads to a file.
    const FilePath sourceFolder = source.parent();
    const QByteArray sourceName = source.fileNameNative();
    ScopedDirectory sourceParent(*m_fs, m_fs->openDirectory(FileSystem::CurrentDirectory,
                                                            sourceFolder.native().constData(), sourceFolder.native()));
    if (!sourceParent.isOpen()) {
        run.fail(lastErrno(), sourceFolder.native());
        return result;
    }
    if (st.isRegular && options.followSourceRoot) {
        FileStat own;
        if (m_fs->statAt(sourceParent.get(), sourceName.constData(), source.native(), false, &own) && own.isSymlink) {
            // The file behind a link: read it by its resolved place.
            Options direct = options;
            direct.followSourceRoot = false;
            QByteArray resolved;
            if (const int error = m_fs->readLinkAt(sourceParent.get(), sourceName.constData(), source.native(),
                                                   &resolved)) {
                run.fail(error, source.native());
                return result;
            }
            const FilePath real = resolved.startsWith('/') ? FilePath(resolved) : sourceFolder.child(resolved);
            return copy(real, target, direct);
        }
    }
    if (copyEntry(sourceParent.get(), sourceName.constData(), source.native(), targetParent.get(), target.native(),
                  QByteArray(), &run)) {
        return result;
    }
    result.size = st.isRegular ? st.size : 0;
    if (options.digest && run.lines.size() == 1) {
        // The one line is "<TAB>digest" for the root file itself.
        result.sha256 = run.lines.first().mid(run.lines.first().indexOf('\t') + 1);
    }
    return result;
}

int CleanArchiveCopier::copyContents(int fromFd, const QByteArray& fromPath, int toFd, const QByteArray& toPath,
                                     const QByteArray& relative, Run* run) const
{
    DirectoryNames names;
    if (!m_fs->readDirectory(fromFd, fromPath, &names)) {
        return run->fail(lastErrno(), fromPath);
    }
    for (const DirectoryNames::Name& n : names.names) {
        const char* name = names.buffer.constData() + n.offset;
        const QByteArray childRelative = relative.isEmpty() ? QByteArray(name) : relative + '/' + name;
        if (const int error =
                copyEntry(fromFd, name, joined(fromPath, name), toFd, joined(toPath, name), childRelative, run)) {
            return error;
        }
    }
    return 0;
}

int CleanArchiveCopier::copyEntry(int fromDir, const char* name, const QByteArray& fromPath, int toDir,
                                  const QByteArray& toPath, const QByteArray& relative, Run* run) const
{
    const QByteArray targetName = toPath.mid(toPath.lastIndexOf('/') + 1);
    FileStat st;
    if (!m_fs->statAt(fromDir, name, fromPath, false, &st)) {
        return run->fail(lastErrno(), fromPath);
    }
    if (!relative.isEmpty() && run->options.skip && run->options.skip(QByteArray(name), st)) {
        return 0;
    }
    if (st.isSymlink) {
        QByteArray linkTarget;
        if (const int error = m_fs->readLinkAt(fromDir, name, fromPath, &linkTarget)) {
            return run->fail(error, fromPath);
        }
        if (const int error = m_fs->symlinkAt(linkTarget, toDir, targetName.constData(), toPath)) {
            return run->fail(error, toPath);
        }
        if (const int error = m_fs->setAttributesAt(toDir, targetName.constData(), toPath, -1, st.accessedNs,
                                                    st.modifiedNs)) {
            return run->fail(error, toPath);
        }
        FileStat copied;
        if (m_fs->statAt(toDir, targetName.constData(), toPath, false, &copied)) {
            run->bytes += spaceOf(copied);
        }
        return 0;
    }
    if (st.isRegular) {
        return copyFile(fromDir, name, fromPath, toDir, targetName.constData(), toPath, st, relative, run);
    }
    if (st.isDirectory) {
        if (const int error = m_fs->makeDirectoryAt(toDir, targetName.constData(), toPath, 0700)) {
            return run->fail(error, toPath);
        }
        ScopedDirectory from(*m_fs);
        if (const int error = m_fs->openDirectoryNoFollow(fromDir, name, fromPath, from.receive())) {
            return run->fail(error, fromPath);
        }
        ScopedDirectory to(*m_fs);
        if (const int error = m_fs->openDirectoryNoFollow(toDir, targetName.constData(), toPath, to.receive())) {
            return run->fail(error, toPath);
        }
        if (const int error = copyContents(from.get(), fromPath, to.get(), toPath, relative, run)) {
            return error;
        }
        if (const int error = m_fs->setAttributesAt(toDir, targetName.constData(), toPath,
                                                    int(st.permissions & run->options.permissionMask), st.accessedNs,
                                                    st.modifiedNs)) {
            return run->fail(error, toPath);
        }
        return 0;
    }
    // Sockets, pipes and devices hold no data to copy.
    return run->fail(EOPNOTSUPP, fromPath);
}

int CleanArchiveCopier::copyFile(int fromDir, const char* fromName, const QByteArray& fromPath, int toDir,
                                 const char* toName, const QByteArray& toPath, const FileStat& st,
                                 const QByteArray& relative, Run* run) const
{
    FileDescriptor input(*m_fs);
    if (const int error = m_fs->openFileAt(fromDir, fromName, fromPath, O_RDONLY, 0, input.receive())) {
        return run->fail(error, fromPath);
    }
    FileDescriptor output(*m_fs);
    if (const int error =
            m_fs->openFileAt(toDir, toName, toPath, O_WRONLY | O_CREAT | O_EXCL, 0600, output.receive())) {
        return run->fail(error, toPath);
    }
    if (run->options.digest) {
        // One pass: what is hashed is exactly what is written, read once.
        DescriptorReader reader(input.get());
        Sha256 hash;
        for (;;) {
            errno = 0;
            const qint64 n = reader.read(run->buffer.data(), run->buffer.size());
            if (n < 0) {
                return run->fail(lastErrno(), fromPath);
            }
            if (n == 0) {
                break;
            }
            hash.add(QByteArrayView(run->buffer.constData(), n));
            if (const int error = m_fs->writeAll(output.get(), QByteArray::fromRawData(run->buffer.constData(), n),
                                                 toPath)) {
                return run->fail(error, toPath);
            }
        }
        run->lines.append(CleanArchiveDigest::line(relative, hash.hexDigest()));
    } else if (const int error = m_fs->copyFileData(input.get(), output.get(), st.size, fromPath, toPath)) {
        return run->fail(error, toPath);
    }
    if (const int error = m_fs->setAttributesAt(toDir, toName, toPath, int(st.permissions & run->options.permissionMask),
                                                st.accessedNs, st.modifiedNs)) {
        return run->fail(error, toPath);
    }
    FileStat copied;
    if (m_fs->statAt(toDir, toName, toPath, false, &copied)) {
        run->bytes += spaceOf(copied);
    }
    return 0;
}

int CleanArchiveCopier::removeTree(const FilePath& path) const
{
    FileStat st;
    if (!m_fs->stat(path.native(), false, &st)) {
        return 0;
    }
    if (st.isDirectory) {
        if ((st.permissions & 0700) != 0700) {
            m_fs->setAttributesAt(FileSystem::CurrentDirectory, path.native().constData(), path.native(),
                                  int(st.permissions | 0700), st.accessedNs, st.modifiedNs);
        }
        ScopedDirectory root(*m_fs);
        if (!m_fs->openDirectoryNoFollow(FileSystem::CurrentDirectory, path.native().constData(), path.native(),
                                         root.receive())) {
            makeWritable(root.get(), path.native());
        }
    }
    const TreeRemover::Result removed = TreeRemover(m_fs).remove(path);
    return removed.error == ENOENT && removed.failedPath == path ? 0 : removed.error;
}

int CleanArchiveCopier::makeWritable(int dirFd, const QByteArray& path) const
{
    DirectoryNames names;
    if (!m_fs->readDirectory(dirFd, path, &names)) {
        return lastErrno();
    }
    for (const DirectoryNames::Name& n : names.names) {
        if (n.kind != DirectoryNames::Kind::Directory && n.kind != DirectoryNames::Kind::Unknown) {
            continue;
        }
        const char* name = names.buffer.constData() + n.offset;
        const QByteArray childPath = joined(path, name);
        FileStat st;
        if (!m_fs->statAt(dirFd, name, childPath, false, &st) || !st.isDirectory) {
            continue;
        }
        if ((st.permissions & 0700) != 0700) {
            m_fs->setAttributesAt(dirFd, name, childPath, int(st.permissions | 0700), st.accessedNs, st.modifiedNs);
        }
        ScopedDirectory child(*m_fs);
        if (!m_fs->openDirectoryNoFollow(dirFd, name, childPath, child.receive())) {
            makeWritable(child.get(), childPath);
        }
    }
    return 0;
}
