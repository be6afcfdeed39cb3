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

void FaultInjectingFileSystem::denyWrite(const QByteArray& path)
{
    QMutexLocker lock(&m_mutex);
    m_denyWrite.insert(path);
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
    if (ok && m_pseudo.contains(path)) {
        // A mount of its own: another device than its parent.
        out->device ^= 0x5a5a5a5a;
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

void FaultInjectingFileSystem::failOperation(int nth, int errnoValue)
{
    m_operations = 0;
    m_fired = false;
    m_failErrno = errnoValue;
    m_failAt = nth;
}

int FaultInjectingFileSystem::nextOperation() const
{
    const int n = ++m_operations;
    if (m_failAt.load() > 0 && n == m_failAt.load()) {
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
    if (const int error = nextOperation()) {
        *fd = -1;
        return error;
    }
    {
        QMutexLocker lock(&m_mutex);
        if (m_failOpen.contains(fullPath)) {
            *fd = -1;
            return EACCES;
        }
    }
    const int error = m_real->openDirectoryNoFollow(dirFd, name, fullPath, fd);
    if (!error) {
        ++m_opens;
        ++m_currentOpen;
    }
    return error;
}

int FaultInjectingFileSystem::makeDirectoryAt(int dirFd, const char* name, const QByteArray& fullPath,
                                              unsigned mode) const
{
    if (const int error = nextOperation()) {
        return error;
    }
    return m_real->makeDirectoryAt(dirFd, name, fullPath, mode);
}

void FaultInjectingFileSystem::setVolumeBoundary(const QByteArray& prefix)
{
    QMutexLocker lock(&m_mutex);
    m_volumeBoundary = prefix;
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

int FaultInjectingFileSystem::removeAt(int dirFd, const char* name, const QByteArray& fullPath, bool directory) const
{
    if (const int error = nextOperation()) {
        return error;
    }
    return m_real->removeAt(dirFd, name, fullPath, directory);
}

int FaultInjectingFileSystem::symlinkAt(const QByteArray& target, int dirFd, const char* name,
                                        const QByteArray& fullPath) const
{
    if (const int error = nextOperation()) {
        return error;
    }
    return m_real->symlinkAt(target, dirFd, name, fullPath);
}

int FaultInjectingFileSystem::readLinkAt(int dirFd, const char* name, const QByteArray& fullPath,
                                         QByteArray* target) const
{
    if (const int error = nextOperation()) {
        return error;
    }
    return m_real->readLinkAt(dirFd, name, fullPath, target);
}

int FaultInjectingFileSystem::openFileAt(int dirFd, const char* name, const QByteArray& fullPath, int flags,
                                         unsigned mode, int* fd) const
{
    if (const int error = nextOperation()) {
        *fd = -1;
        return error;
    }
    return m_real->openFileAt(dirFd, name, fullPath, flags, mode, fd);
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

int FaultInjectingFileSystem::writeAll(int fd, const QByteArray& data, const QByteArray& fullPath) const
{
    if (const int error = nextOperation()) {
        return error;
    }
    return m_real->writeAll(fd, data, fullPath);
}

int FaultInjectingFileSystem::syncFileSystem(int fd, const QByteArray& fullPath) const
{
    if (const int error = nextOperation()) {
        return error;
    }
    return m_real->syncFileSystem(fd, fullPath);
}

int FaultInjectingFileSystem::syncFile(int fd, const QByteArray& fullPath) const
{
    if (const int error = nextOperation()) {
        return error;
    }
    return m_real->syncFile(fd, fullPath);
}

void FaultInjectingFileSystem::pretendPseudo(const QByteArray& path)
{
    QMutexLocker lock(&m_mutex);
    m_pseudo.insert(path);
}

bool FaultInjectingFileSystem::isPseudoFileSystem(int dirFd, const QByteArray& fullPath) const
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_pseudo.contains(fullPath)) {
            return true;
        }
    }
    return m_real->isPseudoFileSystem(dirFd, fullPath);
}

int FaultInjectingFileSystem::setAttributesAt(int dirFd, const char* name, const QByteArray& fullPath,
                                              int permissions, qint64 accessedNs, qint64 modifiedNs) const
{
    if (const int error = nextOperation()) {
        return error;
    }
    return m_real->setAttributesAt(dirFd, name, fullPath, permissions, accessedNs, modifiedNs);
}

void FaultInjectingFileSystem::closeFile(int fd) const
{
    m_real->closeFile(fd);
}

bool FaultInjectingFileSystem::isWritable(const QByteArray& path) const
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_denyWrite.contains(path)) {
            return false;
        }
    }
    return m_real->isWritable(path);
}
