#pragma once

#include "FileSystem.h"

// The real file system of the running machine.
class PlatformFileSystem : public FileSystem
{
public:
    static FileSystemPtr instance();

    bool stat(const QByteArray& path, bool followLinks, FileStat* out) const override;
    bool statAt(int dirFd, const char* name, const QByteArray& fullPath, bool followLinks,
                FileStat* out) const override;
    int openDirectory(int dirFd, const char* name, const QByteArray& fullPath) const override;
    bool readDirectory(int fd, const QByteArray& fullPath, DirectoryNames* out) const override;
    void closeDirectory(int fd) const override;
};
