#include "StoppableFileSystem.h"

#include <cerrno>

StoppableFileSystem::StoppableFileSystem(FileSystemPtr inner, std::shared_ptr<const std::atomic_bool> stop)
    : m_inner(std::move(inner))
    , m_stop(std::move(stop))
{
}

bool StoppableFileSystem::stat(const QByteArray& path, bool followLinks, FileStat* out) const
{
    return m_inner->stat(path, followLinks, out);
}

bool StoppableFileSystem::statAt(int dirFd, const char* name, const QByteArray& fullPath, bool followLinks,
                                 FileStat* out) const
{
    return m_inner->statAt(dirFd, name, fullPath, followLinks, out);
}

int StoppableFileSystem::openDirectory(int dirFd, const char* name, const QByteArray& fullPath) const
{
    if (stopped()) {
        errno = ECANCELED;
        return -1;
    }
    return m_inner->openDirectory(dirFd, name, fullPath);
}

bool StoppableFileSystem::readDirectory(int fd, const QByteArray& fullPath, DirectoryNames* out) const
{
    if (stopped()) {
        out->clear();
        return false;
    }
    return m_inner->readDirectory(fd, fullPath, out);
}

void StoppableFileSystem::closeDirectory(int fd) const
{
    m_inner->closeDirectory(fd);
}

int StoppableFileSystem::openDirectoryNoFollow(int dirFd, const char* name, const QByteArray& fullPath, int* fd) const
{
    if (stopped())
        return ECANCELED;
    return m_inner->openDirectoryNoFollow(dirFd, name, fullPath, fd);
}

int StoppableFileSystem::makeDirectoryAt(int dirFd, const char* name, const QByteArray& fullPath, unsigned mode) const
{
    return m_inner->makeDirectoryAt(dirFd, name, fullPath, mode);
}

int StoppableFileSystem::renameAt(int fromDirFd, const char* fromName, const QByteArray& fromPath, int toDirFd,
                                  const char* toName, const QByteArray& toPath, bool noReplace) const
{
    return m_inner->renameAt(fromDirFd, fromName, fromPath, toDirFd, toName, toPath, noReplace);
}

int StoppableFileSystem::removeAt(int dirFd, const char* name, const QByteArray& fullPath, bool directory) const
{
    return m_inner->removeAt(dirFd, name, fullPath, directory);
}

int StoppableFileSystem::symlinkAt(const QByteArray& target, int dirFd, const char* name,
                                   const QByteArray& fullPath) const
{
    return m_inner->symlinkAt(target, dirFd, name, fullPath);
}

int StoppableFileSystem::readLinkAt(int dirFd, const char* name, const QByteArray& fullPath, QByteArray* target) const
{
    return m_inner->readLinkAt(dirFd, name, fullPath, target);
}

int StoppableFileSystem::openFileAt(int dirFd, const char* name, const QByteArray& fullPath, int flags, unsigned mode,
                                    int* fd) const
{
    return m_inner->openFileAt(dirFd, name, fullPath, flags, mode, fd);
}

int StoppableFileSystem::copyFileData(int fromFd, int toFd, qint64 length, const QByteArray& fromPath,
                                      const QByteArray& toPath) const
{
    return m_inner->copyFileData(fromFd, toFd, length, fromPath, toPath);
}

int StoppableFileSystem::writeAll(int fd, const QByteArray& data, const QByteArray& fullPath) const
{
    return m_inner->writeAll(fd, data, fullPath);
}

int StoppableFileSystem::syncFileSystem(int fd, const QByteArray& fullPath) const
{
    return m_inner->syncFileSystem(fd, fullPath);
}

int StoppableFileSystem::setAttributesAt(int dirFd, const char* name, const QByteArray& fullPath, int permissions,
                                         qint64 accessedNs, qint64 modifiedNs) const
{
    return m_inner->setAttributesAt(dirFd, name, fullPath, permissions, accessedNs, modifiedNs);
}

void StoppableFileSystem::closeFile(int fd) const
{
    m_inner->closeFile(fd);
}

bool StoppableFileSystem::listDirectory(const QByteArray& path, QList<DirEntry>* out, QString* error) const
{
    if (stopped()) {
        out->clear();
        return false;
    }
    return m_inner->listDirectory(path, out, error);
}

bool StoppableFileSystem::isWritable(const QByteArray& path) const
{
    return m_inner->isWritable(path);
}

int StoppableFileSystem::syncFile(int fd, const QByteArray& fullPath) const
{
    return m_inner->syncFile(fd, fullPath);
}

QByteArray StoppableFileSystem::resolvedPath(const QByteArray& path) const
{
    return m_inner->resolvedPath(path);
}

bool StoppableFileSystem::isPseudoFileSystem(int dirFd, const QByteArray& fullPath) const
{
    return m_inner->isPseudoFileSystem(dirFd, fullPath);
}
