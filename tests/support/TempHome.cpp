#include "TempHome.h"

#include <fcntl.h>
#include <sys/stat.h>

QString TempHome::makeFile(const QString& relative, qint64 size, std::optional<QDateTime> modified)
{
    const QString absolute = QFile::decodeName(m_dir.writeFile(QFile::encodeName(relative), QByteArray(size, 'x')));
    if (modified) {
        setModified(absolute, *modified);
    }
    return absolute;
}

QString TempHome::makeDir(const QString& relative, std::optional<QDateTime> modified)
{
    const QString absolute = QFile::decodeName(m_dir.makeDirectory(QFile::encodeName(relative)));
    if (modified) {
        setModified(absolute, *modified);
    }
    return absolute;
}

bool TempHome::setModified(const QString& absolutePath, const QDateTime& modified)
{
    const qint64 ms = modified.toMSecsSinceEpoch();
    struct timespec times[2];
    times[0].tv_sec = ms / 1000;
    times[0].tv_nsec = (ms % 1000) * 1000000;
    times[1] = times[0];
    return ::utimensat(AT_FDCWD, QFile::encodeName(absolutePath).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}
