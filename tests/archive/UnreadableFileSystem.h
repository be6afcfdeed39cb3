#pragma once

#include "FaultInjectingFileSystem.h"

#include <QByteArray>

#include <cerrno>
#include <fcntl.h>

// The fault-injecting file system with one file that cannot be opened for
// reading (EACCES), as a file without read permission is for anyone but
// root; the tests run as root on CI, where permissions would not stop them.
class UnreadableFileSystem : public FaultInjectingFileSystem
{
public:
    explicit UnreadableFileSystem(QByteArray unreadable)
        : m_unreadable(std::move(unreadable))
    {
    }

    int openFileAt(int dirFd, const char* name, const QByteArray& fullPath, int flags, unsigned mode,
                   int* fd) const override
    {
        if (fullPath == m_unreadable && (flags & O_ACCMODE) == O_RDONLY) {
            *fd = -1;
            return EACCES;
        }
        return FaultInjectingFileSystem::openFileAt(dirFd, name, fullPath, flags, mode, fd);
    }

private:
    QByteArray m_unreadable;
};
