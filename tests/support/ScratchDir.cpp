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
    if (fd < 0) {
        return false;
    }
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
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

void makeParents(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash <= 0) {
        return;
    }
    const QByteArray parent = path.left(slash);
    struct stat st;
    if (::lstat(parent.constData(), &st) == 0) {
        return;
    }
    makeParents(parent);
    if (::mkdir(parent.constData(), 0755) != 0 && errno != EEXIST) {
        qFatal("ScratchDir: cannot make a folder: %s", std::strerror(errno));
    }
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
    const QByteArray path = filePath(relative);
    makeParents(path);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode_t(mode));
    if (fd < 0) {
        qFatal("ScratchDir: cannot create a file: %s", std::strerror(errno));
    }
    qsizetype done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + done, size_t(content.size() - done));
        if (n <= 0) {
            qFatal("ScratchDir: cannot write a file: %s", std::strerror(errno));
        }
        done += n;
    }
    ::fchmod(fd, mode_t(mode));
    ::close(fd);
    return path;
}

QByteArray ScratchDir::makeDirectory(const QByteArray& relative, unsigned mode)
{
    const QByteArray path = filePath(relative);
    makeParents(path);
    if (::mkdir(path.constData(), mode_t(mode)) != 0 && errno != EEXIST) {
        qFatal("ScratchDir: cannot make a folder: %s", std::strerror(errno));
    }
    ::chmod(path.constData(), mode_t(mode));
    return path;
}

QByteArray ScratchDir::makeLink(const QByteArray& target, const QByteArray& relative)
{
    const QByteArray path = filePath(relative);
    makeParents(path);
    if (::symlink(target.constData(), path.constData()) != 0) {
        qFatal("ScratchDir: cannot make a link: %s", std::strerror(errno));
    }
    return path;
}

bool ScratchDir::removeTree(const QByteArray& path)
{
    return removeAt(AT_FDCWD, path.constData());
}

bool ScratchDir::sameFileSystem(const QByteArray& a, const QByteArray& b)
{
    struct stat sa;
    struct stat sb;
    return ::stat(a.constData(), &sa) == 0 && ::stat(b.constData(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

bool ScratchDir::exists(const QByteArray& path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

QByteArray ScratchDir::readFile(const QByteArray& path)
{
    QByteArray content;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return content;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        content.append(buffer, n);
    }
    ::close(fd);
    return content;
}
