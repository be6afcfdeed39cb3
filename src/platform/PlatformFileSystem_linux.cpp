#include "PlatformFileSystem.h"

#include <QFile>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <sys/syscall.h>
#include <sys/sendfile.h>
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
    out->isRegular = S_ISREG(st.st_mode);
    out->permissions = st.st_mode & 07777;
    out->modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    out->accessedNs = qint64(st.st_atim.tv_sec) * 1000000000 + st.st_atim.tv_nsec;
    out->device = st.st_dev;
    out->inode = st.st_ino;
    out->linkCount = quint64(st.st_nlink);
}

int at(int dirFd)
{
    return dirFd == FileSystem::CurrentDirectory ? AT_FDCWD : dirFd;
}

int result(int rc)
{
    return rc == 0 ? 0 : errno;
}

timespec toTimespec(qint64 ns)
{
    timespec t;
    t.tv_sec = time_t(ns / 1000000000);
    t.tv_nsec = long(ns % 1000000000);
    if (t.tv_nsec < 0) {
        t.tv_nsec += 1000000000;
        --t.tv_sec;
    }
    return t;
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
    // Keep the capacity: the walker reuses one listing per depth level.
    out->buffer.truncate(0);
    out->names.resize(0);
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

int PlatformFileSystem::openDirectoryNoFollow(int dirFd, const char* name, const QByteArray&, int* fd) const
{
    do {
        *fd = ::openat(at(dirFd), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    } while (*fd < 0 && errno == EINTR);
    return *fd < 0 ? errno : 0;
}

int PlatformFileSystem::makeDirectoryAt(int dirFd, const char* name, const QByteArray&, unsigned mode) const
{
    return result(::mkdirat(at(dirFd), name, mode_t(mode)));
}

int PlatformFileSystem::renameAt(int fromDirFd, const char* fromName, const QByteArray&, int toDirFd,
                                 const char* toName, const QByteArray&, bool noReplace) const
{
    return result(::renameat2(at(fromDirFd), fromName, at(toDirFd), toName, noReplace ? RENAME_NOREPLACE : 0));
}

int PlatformFileSystem::removeAt(int dirFd, const char* name, const QByteArray&, bool directory) const
{
    return result(::unlinkat(at(dirFd), name, directory ? AT_REMOVEDIR : 0));
}

int PlatformFileSystem::symlinkAt(const QByteArray& target, int dirFd, const char* name, const QByteArray&) const
{
    return result(::symlinkat(target.constData(), at(dirFd), name));
}

int PlatformFileSystem::readLinkAt(int dirFd, const char* name, const QByteArray&, QByteArray* target) const
{
    QByteArray buffer(4096, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::readlinkat(at(dirFd), name, buffer.data(), size_t(buffer.size()));
        if (n < 0) {
            return errno;
        }
        if (n < buffer.size()) {
            buffer.truncate(n);
            *target = buffer;
            return 0;
        }
        buffer.resize(buffer.size() * 2);
    }
}

int PlatformFileSystem::openFileAt(int dirFd, const char* name, const QByteArray&, int flags, unsigned mode,
                                   int* fd) const
{
    do {
        *fd = ::openat(at(dirFd), name, flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode_t(mode));
    } while (*fd < 0 && errno == EINTR);
    return *fd < 0 ? errno : 0;
}

int PlatformFileSystem::copyFileData(int fromFd, int toFd, qint64 length, const QByteArray&, const QByteArray&) const
{
    // copy_file_range lets the file system share or copy extents itself;
    // sendfile and a plain loop cover the kernels and file systems without it.
    qint64 left = length;
    bool kernelCopy = true;
    while (left > 0 && kernelCopy) {
        const ssize_t n = ::copy_file_range(fromFd, nullptr, toFd, nullptr, size_t(std::min<qint64>(left, 1 << 30)), 0);
        if (n > 0) {
            left -= n;
            continue;
        }
        if (n == 0) {
            break; // the source is shorter than it was: the caller's check will notice
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF) {
            kernelCopy = false;
            break;
        }
        return errno;
    }
    while (left > 0) {
        const ssize_t n = ::sendfile(toFd, fromFd, nullptr, size_t(std::min<qint64>(left, 1 << 30)));
        if (n > 0) {
            left -= n;
            continue;
        }
        if (n == 0) {
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EINVAL && errno != ENOSYS) {
            return errno;
        }
        char buffer[1 << 16];
        while (left > 0) {
            const ssize_t r = ::read(fromFd, buffer, size_t(std::min<qint64>(left, qint64(sizeof buffer))));
            if (r < 0 && errno == EINTR) {
                continue;
            }
            if (r < 0) {
                return errno;
            }
            if (r == 0) {
                return 0;
            }
            const QByteArray chunk = QByteArray::fromRawData(buffer, r);
            if (const int error = writeAll(toFd, chunk, QByteArray())) {
                return error;
            }
            left -= r;
        }
    }
    return 0;
}

int PlatformFileSystem::writeAll(int fd, const QByteArray& data, const QByteArray&) const
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        done += n;
    }
    return 0;
}

int PlatformFileSystem::syncFileSystem(int fd, const QByteArray&) const
{
    return result(::syncfs(fd));
}

QByteArray PlatformFileSystem::resolvedPath(const QByteArray& path) const
{
    char* resolved = ::realpath(path.constData(), nullptr);
    if (!resolved) {
        return {};
    }
    const QByteArray result(resolved);
    ::free(resolved);
    return result;
}

int PlatformFileSystem::syncFile(int fd, const QByteArray&) const
{
    int rc;
    do {
        rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    return result(rc);
}

bool PlatformFileSystem::isPseudoFileSystem(int dirFd, const QByteArray& fullPath) const
{
    struct stat st;
    const int rc = dirFd == CurrentDirectory ? ::stat(fullPath.constData(), &st) : ::fstat(dirFd, &st);
    if (rc != 0) {
        return false;
    }
    // Kernel views and control files: their sizes are not disk space, and
    // reading some of them blocks or never ends. devtmpfs reports the tmpfs
    // magic number, so the mount table's type name decides.
    static const QSet<QByteArray> pseudo = {
        "proc", "sysfs", "devtmpfs", "devpts", "cgroup", "cgroup2", "debugfs", "tracefs", "securityfs",
        "fusectl", "pstore", "bpf", "efivarfs", "binfmt_misc", "configfs", "hugetlbfs", "mqueue", "nsfs",
        "autofs", "rpc_pipefs", "selinuxfs", "tracefs"};
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (table.open(QIODevice::ReadOnly)) {
        const QByteArray device = QByteArray::number(major(st.st_dev)) + ':' + QByteArray::number(minor(st.st_dev));
        // "id parent major:minor root mountpoint options [optional…] - type source options"
        for (const QByteArray& line : table.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() < 3 || fields.at(2) != device) {
                continue;
            }
            const qsizetype dash = fields.indexOf("-");
            if (dash >= 0 && dash + 1 < fields.size()) {
                return pseudo.contains(fields.at(dash + 1));
            }
        }
        return false;
    }
    struct statfs fs;
    if ((dirFd == CurrentDirectory ? ::statfs(fullPath.constData(), &fs) : ::fstatfs(dirFd, &fs)) != 0) {
        return false;
    }
    switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
        return true;
    default:
        return false;
    }
}

int PlatformFileSystem::setAttributesAt(int dirFd, const char* name, const QByteArray&, int permissions,
                                        qint64 accessedNs, qint64 modifiedNs) const
{
    // Links have no permissions of their own on Linux, and fchmodat would
    // follow one to its target: only their times are set.
    struct stat st;
    if (::fstatat(at(dirFd), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno;
    }
    if (permissions >= 0 && !S_ISLNK(st.st_mode)) {
        if (::fchmodat(at(dirFd), name, mode_t(permissions), 0) != 0) {
            return errno;
        }
    }
    const timespec times[2] = {toTimespec(accessedNs), toTimespec(modifiedNs)};
    return result(::utimensat(at(dirFd), name, times, AT_SYMLINK_NOFOLLOW));
}

void PlatformFileSystem::closeFile(int fd) const
{
    ::close(fd);
}

bool PlatformFileSystem::isWritable(const QByteArray& path) const
{
    // The effective ids decide what a later move may do, so ask with them.
    return ::faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS) == 0;
}
