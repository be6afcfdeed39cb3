#include "CleanArchiveDigest.h"

#include "base/DescriptorReader.h"
#include "base/Sha256.h"
#include "platform/ScopedDirectory.h"

#include <algorithm>

#include <fcntl.h>

namespace {

constexpr qsizetype digestBufferSize = 1 << 20;


} // namespace

CleanArchiveDigest::CleanArchiveDigest(FileSystemPtr fileSystem)
    : m_fs(std::move(fileSystem))
{
}

QByteArray CleanArchiveDigest::line(const QByteArray& relativePath, const QByteArray& fileDigest)
{
    return relativePath + '\t' + fileDigest;
}

QByteArray CleanArchiveDigest::digestOfLines(QList<QByteArray> lines)
{
    std::sort(lines.begin(), lines.end());
    return Sha256::hexDigestOf(lines.join('\n'));
}

std::optional<QByteArray> CleanArchiveDigest::digestOfDescriptor(int fd, QByteArray* buffer)
{
    if (buffer->size() < digestBufferSize) {
        buffer->resize(digestBufferSize);
    }
    DescriptorReader reader(fd);
    Sha256 hash;
    for (;;) {
        const qint64 n = reader.read(buffer->data(), buffer->size());
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            return hash.hexDigest();
        }
        hash.add(QByteArrayView(buffer->constData(), n));
    }
}

std::optional<QByteArray> CleanArchiveDigest::fileDigest(const FilePath& file) const
{
    FileStat st;
    if (!m_fs->stat(file.native(), false, &st) || !st.isRegular) {
        return std::nullopt;
    }
    int fd = -1;
    if (m_fs->openFileAt(FileSystem::CurrentDirectory, file.native().constData(), file.native(), O_RDONLY, 0, &fd)) {
        return std::nullopt;
    }
    QByteArray buffer;
    const std::optional<QByteArray> digest = digestOfDescriptor(fd, &buffer);
    m_fs->closeFile(fd);
    return digest;
}

std::optional<QByteArray> CleanArchiveDigest::directoryDigest(const FilePath& folder) const
{
    ScopedDirectory root(*m_fs);
    if (m_fs->openDirectoryNoFollow(FileSystem::CurrentDirectory, folder.native().constData(), folder.native(),
                                    root.receive())) {
        return std::nullopt;
    }
    QList<QByteArray> lines;
    QByteArray buffer;
    if (!collect(root.get(), folder.native(), QByteArray(), &lines, &buffer)) {
        return std::nullopt;
    }
    return digestOfLines(std::move(lines));
}

bool CleanArchiveDigest::collect(int dirFd, const QByteArray& path, const QByteArray& relative,
                                 QList<QByteArray>* lines, QByteArray* buffer) const
{
    DirectoryNames names;
    if (!m_fs->readDirectory(dirFd, path, &names)) {
        return false;
    }
    for (const DirectoryNames::Name& n : names.names) {
        const char* name = names.buffer.constData() + n.offset;
        if (name[0] == '.') {
            continue;
        }
        const QByteArray childPath = FilePath::joined(path, name);
        const QByteArray childRelative = relative.isEmpty() ? QByteArray(name) : relative + '/' + name;
        FileStat st;
        if (!m_fs->statAt(dirFd, name, childPath, false, &st)) {
            return false;
        }
        if (st.isDirectory) {
            ScopedDirectory child(*m_fs);
            if (childRelative.count('/') >= FileSystem::maxTreeDepth
                || m_fs->openDirectoryNoFollow(dirFd, name, childPath, child.receive())
                || !collect(child.get(), childPath, childRelative, lines, buffer)) {
                return false;
            }
        } else if (st.isRegular) {
            int fd = -1;
            if (m_fs->openFileAt(dirFd, name, childPath, O_RDONLY, 0, &fd)) {
                return false;
            }
            const std::optional<QByteArray> digest = digestOfDescriptor(fd, buffer);
            m_fs->closeFile(fd);
            if (!digest) {
                return false;
            }
            lines->append(line(childRelative, *digest));
        }
    }
    return true;
}

qint64 CleanArchiveDigest::entrySize(const FilePath& path) const
{
    FileStat st;
    if (!m_fs->stat(path.native(), false, &st)) {
        return 0;
    }
    if (!st.isDirectory) {
        return st.size;
    }
    ScopedDirectory root(*m_fs);
    if (m_fs->openDirectoryNoFollow(FileSystem::CurrentDirectory, path.native().constData(), path.native(),
                                    root.receive())) {
        return 0;
    }
    return sizeBelow(root.get(), path.native());
}

qint64 CleanArchiveDigest::sizeBelow(int dirFd, const QByteArray& path, int depth) const
{
    DirectoryNames names;
    if (depth >= FileSystem::maxTreeDepth) {
        return 0;
    }
    if (!m_fs->readDirectory(dirFd, path, &names)) {
        return 0;
    }
    qint64 total = 0;
    for (const DirectoryNames::Name& n : names.names) {
        const char* name = names.buffer.constData() + n.offset;
        if (name[0] == '.') {
            continue;
        }
        const QByteArray childPath = FilePath::joined(path, name);
        FileStat st;
        if (!m_fs->statAt(dirFd, name, childPath, false, &st)) {
            continue;
        }
        if (st.isDirectory) {
            ScopedDirectory child(*m_fs);
            if (!m_fs->openDirectoryNoFollow(dirFd, name, childPath, child.receive())) {
                total += sizeBelow(child.get(), childPath, depth + 1);
            }
        } else {
            total += st.space();
        }
    }
    return total;
}
