#pragma once

#include "FileSystem.h"

// The real file system of the running machine. It holds no state: the
// composition root makes one and hands it to everything that needs it.
class PlatformFileSystem : public FileSystem
{
public:
    bool stat(const QByteArray& path, bool followLinks, FileStat* out) const override;
    bool statAt(int dirFd, const char* name, const QByteArray& fullPath, bool followLinks,
                FileStat* out) const override;
    int openDirectory(int dirFd, const char* name, const QByteArray& fullPath) const override;
    bool readDirectory(int fd, const QByteArray& fullPath, DirectoryNames* out) const override;
    void closeDirectory(int fd) const override;

    int openDirectoryNoFollow(int dirFd, const char* name, const QByteArray& fullPath, int* fd) const override;
    int makeDirectoryAt(int dirFd, const char* name, const QByteArray& fullPath, unsigned mode) const override;
    int renameAt(int fromDirFd, const char* fromName, const QByteArray& fromPath, int toDirFd, const char* toName,
                 const QByteArray& toPath, bool noReplace) const override;
    int removeAt(int dirFd, const char* name, const QByteArray& fullPath, bool directory) const override;
    int symlinkAt(const QByteArray& target, int dirFd, const char* name, const QByteArray& fullPath) const override;
    int readLinkAt(int dirFd, const char* name, const QByteArray& fullPath, QByteArray* target) const override;
    int openFileAt(int dirFd, const char* name, const QByteArray& fullPath, int flags, unsigned mode,
                   int* fd) const override;
    int copyFileData(int fromFd, int toFd, qint64 length, const QByteArray& fromPath,
                     const QByteArray& toPath) const override;
    int writeAll(int fd, const QByteArray& data, const QByteArray& fullPath) const override;
    bool isWritable(const QByteArray& path) const override;
    int syncFileSystem(int fd, const QByteArray& fullPath) const override;
    int syncFile(int fd, const QByteArray& fullPath) const override;
    QByteArray resolvedPath(const QByteArray& path) const override;
    bool isPseudoFileSystem(int dirFd, const QByteArray& fullPath) const override;
    int setAttributesAt(int dirFd, const char* name, const QByteArray& fullPath, int permissions, qint64 accessedNs,
                        qint64 modifiedNs) const override;
    void closeFile(int fd) const override;
};
