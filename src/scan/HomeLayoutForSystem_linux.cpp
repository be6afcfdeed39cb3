#include "HomeLayout.h"

#include <unistd.h>

HomeLayout HomeLayout::forThisSystem(const FilePath& home, const QProcessEnvironment& environment)
{
    return freedesktop(home, environment,
                       {FilePath(QByteArrayLiteral("/var/log/journal")), FilePath(QByteArrayLiteral("/run/log/journal"))},
                       ::getuid());
}
