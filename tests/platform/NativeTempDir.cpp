#include "NativeTempDir.h"

#include <QDir>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

NativeTempDir::NativeTempDir()
{
    QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/brisko-platform-XXXXXX";
    if (::mkdtemp(pattern.data())) {
        m_path = pattern;
    }
}

NativeTempDir::~NativeTempDir()
{
    if (isValid()) {
        removeTree(AT_FDCWD, m_path.constData());
    }
}

bool NativeTempDir::removeTree(int parentFd, const char* name)
{
    struct stat st;
    if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
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
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        removeTree(fd, entry->d_name);
    }
    ::closedir(dir);
    return ::unlinkat(parentFd, name, AT_REMOVEDIR) == 0;
}
