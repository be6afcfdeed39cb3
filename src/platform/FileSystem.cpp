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

bool FileSystem::exists(const QByteArray& path) const
{
    FileStat st;
    return stat(path, true, &st);
}

int FileSystem::openParentBeneath(const QByteArray& anchor, const QByteArray& path, int* fd,
                                  const QByteArray& openAnchorAs) const
{
    *fd = -1;
    QByteArray root = anchor;
    while (root.size() > 1 && root.endsWith('/')) {
        root.chop(1);
    }
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0) {
        return EINVAL;
    }
    const QByteArray parent = slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
    const bool beneath = !root.isEmpty() && path.startsWith(root + '/') && path.size() > root.size() + 1;
    if (!beneath) {
        *fd = openDirectory(CurrentDirectory, parent.constData(), parent);
        return *fd < 0 ? (errno ? errno : ENOENT) : 0;
    }
    const QByteArray& openAs = openAnchorAs.isEmpty() ? root : openAnchorAs;
    int current = openDirectory(CurrentDirectory, openAs.constData(), openAs);
    if (current < 0) {
        return errno ? errno : ENOENT;
    }
    QByteArray walked = root;
    const QList<QByteArray> components = parent.mid(root.size() + 1).split('/');
    for (const QByteArray& component : components) {
        if (parent.size() == root.size()) {
            break;
        }
        if (component.isEmpty() || component == ".") {
            continue;
        }
        if (component == "..") {
            closeDirectory(current);
            return EINVAL;
        }
        walked += '/' + component;
        int next = -1;
        const int error = openDirectoryNoFollow(current, component.constData(), walked, &next);
        closeDirectory(current);
        if (error) {
            return error;
        }
        current = next;
    }
    *fd = current;
    return 0;
}
