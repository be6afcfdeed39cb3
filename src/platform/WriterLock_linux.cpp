#include "WriterLock.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

WriterLock::WriterLock(int fd)
    : m_fd(fd)
{
}

WriterLock::~WriterLock()
{
    ::close(m_fd);
}

std::shared_ptr<WriterLock> WriterLock::acquire(const FilePath& lockFile, std::chrono::milliseconds wait,
                                                QString* error)
{
    QDir().mkpath(lockFile.parent().toString());
    const int fd = ::open(lockFile.native().constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = QStringLiteral("не удалось открыть файл блокировки %1: %2")
                     .arg(lockFile.toString(), QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    // Polled rather than blocking, so that the wait has an end; the steps are
    // short against the operations that hold the lock.
    constexpr std::chrono::milliseconds step(50);
    for (std::chrono::milliseconds waited(0);; waited += step) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return std::shared_ptr<WriterLock>(new WriterLock(fd));
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            *error = QStringLiteral("не удалось заблокировать %1: %2")
                         .arg(lockFile.toString(), QString::fromLocal8Bit(std::strerror(errno)));
            ::close(fd);
            return {};
        }
        if (waited >= wait) {
            break;
        }
        QThread::msleep(quint64(step.count()));
    }
    ::close(fd);
    *error = QStringLiteral("занято другим процессом");
    return {};
}
