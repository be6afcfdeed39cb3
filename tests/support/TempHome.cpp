#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

TempHome::TempHome()
    : m_dir(QDir::tempPath() + QStringLiteral("/brisko-home-XXXXXX"))
{
    m_dir.setAutoRemove(false);
}

static int removeEntry(const char* path, const struct stat*, int type, struct FTW*)
{
    if (type == FTW_DP) {
        ::chmod(path, 0700);
        ::rmdir(path);
        return 0;
    }
    ::unlink(path);
    return 0;
}

TempHome::~TempHome()
{
    if (!m_dir.isValid()) {
        return;
    }
    const QByteArray root = QFile::encodeName(m_dir.path());
    // Folders a test made unreadable must be opened again to be emptied.
    ::nftw(root.constData(), [](const char* path, const struct stat* st, int type, struct FTW*) {
        if (type == FTW_DNR || (type == FTW_D && !(st->st_mode & S_IRWXU))) {
            ::chmod(path, 0700);
        }
        return 0;
    }, 64, FTW_PHYS);
    ::nftw(root.constData(), removeEntry, 64, FTW_DEPTH | FTW_PHYS);
}

QString TempHome::filePath(const QString& relative) const
{
    return m_dir.filePath(relative);
}

FilePath TempHome::nativePath(const QByteArray& relative) const
{
    return home().child(relative);
}

static bool writeBytes(const QByteArray& path, qint64 size)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    QByteArray chunk(64 * 1024, 'x');
    qint64 left = size;
    bool ok = true;
    while (left > 0 && ok) {
        const qint64 n = std::min<qint64>(left, chunk.size());
        ok = ::write(fd, chunk.constData(), size_t(n)) == n;
        left -= n;
    }
    ::close(fd);
    return ok;
}

QString TempHome::makeFile(const QString& relative, qint64 size, std::optional<QDateTime> modified)
{
    const QString absolute = filePath(relative);
    QDir().mkpath(QFileInfo(absolute).path());
    if (!writeBytes(QFile::encodeName(absolute), size)) {
        qFatal("TempHome: cannot write %s", qPrintable(absolute));
    }
    if (modified) {
        setModified(absolute, *modified);
    }
    return absolute;
}

FilePath TempHome::makeFileNative(const QByteArray& relative, qint64 size)
{
    const FilePath path = nativePath(relative);
    QDir().mkpath(path.parent().toString());
    if (!writeBytes(path.native(), size)) {
        qFatal("TempHome: cannot write a file");
    }
    return path;
}

QString TempHome::makeDir(const QString& relative, std::optional<QDateTime> modified)
{
    const QString absolute = filePath(relative);
    QDir().mkpath(absolute);
    if (modified) {
        setModified(absolute, *modified);
    }
    return absolute;
}

QString TempHome::makeSymlink(const QString& target, const QString& relative)
{
    const QString absolute = filePath(relative);
    QDir().mkpath(QFileInfo(absolute).path());
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(absolute).constData()) != 0) {
        qFatal("TempHome: cannot link %s", qPrintable(absolute));
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
