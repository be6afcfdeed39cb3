#include "PlatformFileSystem.h"

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

struct LinuxDirent64
{
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

void fillStat(const struct stat& st, FileStat* out)
{
    out->isDirectory = S_ISDIR(st.st_mode);
    out->isSymlink = S_ISLNK(st.st_mode);
    out->size = st.st_size;
    out->allocatedSize = qint64(st.st_blocks) * 512;
    out->hasAllocatedSize = true;
    out->modifiedMs = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    out->hasModified = true;
}

DirectoryNames::Kind kindOf(unsigned char type)
{
    switch (type) {
    case DT_DIR:
        return DirectoryNames::Kind::Directory;
    case DT_REG:
        return DirectoryNames::Kind::Regular;
    case DT_LNK:
        return DirectoryNames::Kind::Symlink;
    case DT_UNKNOWN:
        return DirectoryNames::Kind::Unknown;
    default:
        return DirectoryNames::Kind::Other;
    }
}

} // namespace

FileSystemPtr PlatformFileSystem::instance()
{
    static const FileSystemPtr shared = std::make_shared<PlatformFileSystem>();
    return shared;
}

bool PlatformFileSystem::stat(const QByteArray& path, bool followLinks, FileStat* out) const
{
    struct stat st;
    const int rc = followLinks ? ::stat(path.constData(), &st) : ::lstat(path.constData(), &st);
    if (rc != 0) {
        return false;
    }
    fillStat(st, out);
    return true;
}

bool PlatformFileSystem::statAt(int dirFd, const char* name, const QByteArray&, bool followLinks,
                                FileStat* out) const
{
    struct stat st;
    if (::fstatat(dirFd == CurrentDirectory ? AT_FDCWD : dirFd, name, &st,
                  followLinks ? 0 : AT_SYMLINK_NOFOLLOW)
        != 0) {
        return false;
    }
    fillStat(st, out);
    return true;
}

int PlatformFileSystem::openDirectory(int dirFd, const char* name, const QByteArray&) const
{
    int fd;
    do {
        fd = ::openat(dirFd == CurrentDirectory ? AT_FDCWD : dirFd, name,
                      O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool PlatformFileSystem::readDirectory(int fd, const QByteArray&, DirectoryNames* out) const
{
    out->clear();
    alignas(LinuxDirent64) char chunk[32768];
    for (;;) {
        const long n = ::syscall(SYS_getdents64, fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            return true;
        }
        for (long pos = 0; pos < n;) {
            const auto* d = reinterpret_cast<const LinuxDirent64*>(chunk + pos);
            pos += d->d_reclen;
            const char* name = d->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
                continue;
            }
            const qsizetype length = qsizetype(std::strlen(name));
            const qsizetype offset = out->buffer.size();
            // Keep the terminating zero so that names can be passed to *at() calls as they lie.
            out->buffer.append(name, length + 1);
            out->names.append({offset, length, kindOf(d->d_type)});
        }
    }
}

void PlatformFileSystem::closeDirectory(int fd) const
{
    ::close(fd);
}
