#include "FileSystem.h"

#include <cerrno>
#include <cstring>

bool FileSystem::listDirectory(const QByteArray& path, QList<DirEntry>* out, QString* error) const
{
    out->clear();
    const int fd = openDirectory(CurrentDirectory, path.constData(), path);
    if (fd < 0) {
        if (error) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
        }
        return false;
    }
    DirectoryNames names;
    const bool read = readDirectory(fd, path, &names);
    const int readErrno = errno;
    if (!read) {
        closeDirectory(fd);
        if (error) {
            *error = QString::fromLocal8Bit(std::strerror(readErrno));
        }
        return false;
    }
    QByteArray childPath = path;
    if (!childPath.endsWith('/')) {
        childPath.append('/');
    }
    const qsizetype base = childPath.size();
    out->reserve(names.names.size());
    for (const DirectoryNames::Name& n : names.names) {
        const char* name = names.buffer.constData() + n.offset;
        if (name[0] == '.') {
            continue;
        }
        DirEntry entry;
        entry.name = QByteArray(name, n.length);
        childPath.truncate(base);
        childPath.append(entry.name);
        entry.statOk = statAt(fd, name, childPath, false, &entry.stat);
        out->append(std::move(entry));
    }
    closeDirectory(fd);
    return true;
}

bool FileSystem::isPseudoFileSystem(int, const QByteArray&) const
{
    return false;
}

bool FileSystem::exists(const QByteArray& path) const
{
    FileStat st;
    return stat(path, true, &st);
}
