#include "FaultInjectingFileSystem.h"

#include "platform/PlatformFileSystem.h"

#include <QMutexLocker>

#include <cerrno>

FaultInjectingFileSystem::FaultInjectingFileSystem()
    : m_real(std::make_shared<PlatformFileSystem>())
{
}

void FaultInjectingFileSystem::insert(QSet<QByteArray>& set, const QByteArray& path)
{
    QMutexLocker lock(&m_mutex);
    set.insert(path);
}

bool FaultInjectingFileSystem::contains(const QSet<QByteArray>& set, const QByteArray& path) const
{
    QMutexLocker lock(&m_mutex);
    return set.contains(path);
}

void FaultInjectingFileSystem::setSizes(const QByteArray& path, qint64 allocated, qint64 logical)
{
    QMutexLocker lock(&m_mutex);
    m_sizes.insert(path, {allocated, logical});
}

void FaultInjectingFileSystem::setOnOpen(std::function<void(const QByteArray&)> hook)
{
    QMutexLocker lock(&m_mutex);
    m_onOpen = std::move(hook);
}

void FaultInjectingFileSystem::setVolumeBoundary(const QByteArray& prefix)
{
    QMutexLocker lock(&m_mutex);
    m_volumeBoundary = prefix;
}

bool FaultInjectingFileSystem::applyStat(const QByteArray& path, bool ok, FileStat* out) const
{
    QMutexLocker lock(&m_mutex);
    if (ok && m_pseudo.contains(path)) {
        // A mount of its own: another device than its parent.
        out->device ^= 0x5a5a5a5a;
    }
    const auto it = m_sizes.constFind(path);
    if (ok && it != m_sizes.constEnd()) {
        out->allocatedSize = it->first;
        out->size = it->second;
        out->hasAllocatedSize = true;
    }
    return ok;
}

int FaultInjectingFileSystem::openDirectory(int dirFd, const char* name, const QByteArray& fullPath) const
{
    std::function<void(const QByteArray&)> hook;
    {
        QMutexLocker lock(&m_mutex);
        hook = m_onOpen;
        if (m_failOpen.contains(fullPath)) {
            errno = EACCES;
            return -1;
        }
    }
    if (hook) {
        hook(fullPath);
    }
    const int fd = m_real->openDirectory(dirFd, name, fullPath);
    if (fd >= 0) {
        ++m_opens;
        const int now = ++m_currentOpen;
        int seen = m_maxOpen.load();
        while (now > seen && !m_maxOpen.compare_exchange_weak(seen, now)) {
        }
    }
    return fd;
}

bool FaultInjectingFileSystem::readDirectory(int fd, const QByteArray& fullPath, DirectoryNames* out) const
{
    if (contains(m_failRead, fullPath)) {
        out->clear();
        errno = EIO;
        return false;
    }
    return m_real->readDirectory(fd, fullPath, out);
}

void FaultInjectingFileSystem::failOperation(int nth, int errnoValue)
{
    m_operations = 0;
    m_fired = false;
    m_failErrno = errnoValue;
    m_failAt = nth;
    m_failEvery = false;
}

int FaultInjectingFileSystem::nextOperation() const
{
    const int n = ++m_operations;
    if (m_failAt.load() > 0 && (n == m_failAt.load() || (m_failEvery.load() && n > m_failAt.load()))) {
        m_fired = true;
        if (m_onFault) {
            m_onFault();
        }
        return m_failErrno.load();
    }
    return 0;
}

int FaultInjectingFileSystem::openDirectoryNoFollow(int dirFd, const char* name, const QByteArray& fullPath,
                                                    int* fd) const
{
    *fd = -1;
    if (const int error = nextOperation()) {
        return error;
    }
    if (contains(m_failOpen, fullPath)) {
        return EACCES;
    }
    const int error = m_real->openDirectoryNoFollow(dirFd, name, fullPath, fd);
    if (!error) {
        ++m_opens;
        ++m_currentOpen;
    }
    return error;
}

int FaultInjectingFileSystem::renameAt(int fromDirFd, const char* fromName, const QByteArray& fromPath, int toDirFd,
                                       const char* toName, const QByteArray& toPath, bool noReplace) const
{
    if (const int error = nextOperation()) {
        return error;
    }
    {
        QMutexLocker lock(&m_mutex);
        if (!m_volumeBoundary.isEmpty()
            && fromPath.startsWith(m_volumeBoundary) != toPath.startsWith(m_volumeBoundary)) {
            return EXDEV;
        }
    }
    return m_real->renameAt(fromDirFd, fromName, fromPath, toDirFd, toName, toPath, noReplace);
}

int FaultInjectingFileSystem::copyFileData(int fromFd, int toFd, qint64 length, const QByteArray& fromPath,
                                           const QByteArray& toPath) const
{
    if (const int error = nextOperation()) {
        // A failure part-way: half of the data arrived before it.
        m_real->copyFileData(fromFd, toFd, length / 2, fromPath, toPath);
        return error;
    }
    return m_real->copyFileData(fromFd, toFd, length, fromPath, toPath);
}
