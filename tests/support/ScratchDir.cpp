#include "ScratchDir.h"

#include <QDir>
#include <QFile>
#include <QtGlobal>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool removeAt(int parentFd, const char* name)
{
    struct stat st;
    if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT;
    }
    if (!S_ISDIR(st.st_mode)) {
        return ::unlinkat(parentFd, name, 0) == 0;
    }
    // A test may have left the folder without permissions.
    ::fchmodat(parentFd, name, 0700, 0);
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            removeAt(fd, entry->d_name);
        }
    }
    ::closedir(dir);
    return ::unlinkat(parentFd, name, AT_REMOVEDIR) == 0;
}

void check(bool done, const char* what)
{
    if (!done) {
        qFatal("ScratchDir: cannot %s: %s", what, std::strerror(errno));
    }
}

QByteArray withParents(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash > 0 && !ScratchDir::exists(path.left(slash))) {
        withParents(path.left(slash));
        check(::mkdir(path.left(slash).constData(), 0755) == 0 || errno == EEXIST, "make a folder");
    }
    return path;
}

} // namespace

ScratchDir::ScratchDir(const QByteArray& parent)
{
    QByteArray pattern = (parent.isEmpty() ? QFile::encodeName(QDir::tempPath()) : parent) + "/brisko-scratch-XXXXXX";
    if (::mkdtemp(pattern.data())) {
        m_path = pattern;
    }
}

ScratchDir::~ScratchDir()
{
    if (isValid()) {
        removeTree(m_path);
    }
}

QByteArray ScratchDir::writeFile(const QByteArray& relative, const QByteArray& content, unsigned mode)
{
    const QByteArray path = withParents(filePath(relative));
    check(write(path, content, mode), "write a file");
    return path;
}

QByteArray ScratchDir::makeDirectory(const QByteArray& relative, unsigned mode)
{
    const QByteArray path = withParents(filePath(relative));
    check(::mkdir(path.constData(), mode_t(mode)) == 0 || errno == EEXIST, "make a folder");
    ::chmod(path.constData(), mode_t(mode));
    return path;
}

QByteArray ScratchDir::makeLink(const QByteArray& target, const QByteArray& relative)
{
    const QByteArray path = withParents(filePath(relative));
    check(::symlink(target.constData(), path.constData()) == 0, "make a link");
    return path;
}

bool ScratchDir::write(const QByteArray& path, const QByteArray& content, unsigned mode)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode_t(mode));
    bool ok = fd >= 0;
    for (qsizetype done = 0; ok && done < content.size();) {
        const ssize_t n = ::write(fd, content.constData() + done, size_t(content.size() - done));
        ok = n > 0;
        done += n;
    }
    ok = ok && ::fchmod(fd, mode_t(mode)) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return ok;
}

bool ScratchDir::removeTree(const QByteArray& path)
{
    return removeAt(AT_FDCWD, path.constData());
}

int ScratchDir::makeChain(const QByteArray& root, int levels, bool withFiles)
{
    int fd = ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int depth = 0;
    while (fd >= 0) {
        if (depth < levels) {
            if (withFiles) {
                ::close(::openat(fd, "f.txt", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
            }
            ::mkdirat(fd, "d", 0700);
        }
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
        depth += fd >= 0 ? 1 : 0;
    }
    return depth;
}

QByteArray ScratchDir::otherVolume()
{
    const QByteArray shm("/dev/shm");
    struct stat sa;
    struct stat sb;
    const bool other = ::stat(shm.constData(), &sa) == 0
        && ::stat(QFile::encodeName(QDir::tempPath()).constData(), &sb) == 0 && sa.st_dev != sb.st_dev;
    return other && ::access(shm.constData(), W_OK) == 0 ? shm : QByteArray();
}

bool ScratchDir::exists(const QByteArray& path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

qint64 ScratchDir::allocatedSize(const QByteArray& path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 ? qint64(st.st_blocks) * 512 : -1;
}

QByteArray ScratchDir::readFile(const QByteArray& path)
{
    QByteArray content;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    char buffer[65536];
    for (ssize_t n = 0; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
        content.append(buffer, n);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return content;
}
