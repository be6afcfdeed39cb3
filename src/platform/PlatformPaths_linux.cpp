#include "PlatformPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>

FilePath PlatformPaths::home()
{
    const QByteArray env = qgetenv("HOME");
    if (!env.isEmpty()) {
        return FilePath(env);
    }
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        return FilePath(QByteArray(pw->pw_dir));
    }
    return FilePath(QByteArray("/"));
}

FilePath PlatformPaths::executable()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0) {
        return {};
    }
    return FilePath(QByteArray(buffer, n));
}
