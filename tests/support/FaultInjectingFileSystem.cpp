#include "FaultInjectingFileSystem.h"

#include "platform/PlatformFileSystem.h"

#include <QMutexLocker>

#include <cerrno>

FaultInjectingFileSystem::FaultInjectingFileSystem()
    : m_real(std::make_shared<PlatformFileSystem>())
{
}

void FaultInjectingFileSystem::failOpen(const QByteArray& path)
{
    QMutexLocker lock(&m_mutex);
    m_failOpen.insert(path);
}

void FaultInjectingFileSystem::failRead(const QByteArray& path)
{
    QMutexLocker lock(&m_mutex);
    m_failRead.insert(path);
}

void FaultInjectingFileSystem::failStat(const QByteArray& path)
{
    QMutexLocker lock(&m_mutex);
    m_failStat.insert(path);
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

bool FaultInjectingFileSystem::applyStat(const QByteArray& path, bool ok, FileStat* out) const
{
    QMutexLocker lock(&m_mutex);
    if (m_failStat.contains(path)) {
        errno = ENOENT;
        return false;
    }
    if (ok) {
        const auto it = m_sizes.constFind(path);
        if (it != m_sizes.constEnd()) {
            out->allocatedSize = it->first;
            out->size = it->second;
            out->hasAllocatedSize = true;
        }
    }
    return ok;
}

bool FaultInjectingFileSystem::stat(const QByteArray& path, bool followLinks, FileStat* out) const
{
    return applyStat(path, m_real->stat(path, followLinks, out), out);
}

bool FaultInjectingFileSystem::statAt(int dirFd, const char* name, const QByteArray& fullPath, bool followLinks,
                                      FileStat* out) const
{
    return applyStat(fullPath, m_real->statAt(dirFd, name, fullPath, followLinks, out), out);
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
    {
        QMutexLocker lock(&m_mutex);
        if (m_failRead.contains(fullPath)) {
            out->clear();
            errno = EIO;
            return false;
        }
    }
    return m_real->readDirectory(fd, fullPath, out);
}

void FaultInjectingFileSystem::closeDirectory(int fd) const
{
    --m_currentOpen;
    m_real->closeDirectory(fd);
}
