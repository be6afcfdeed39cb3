#pragma once

#include "FileStat.h"

#include <QString>

#include <memory>

// The file-system primitives the scanner and the file services use. All paths
// are native byte strings. Directory handles are plain descriptors so that the
// walker can open and stat relative to a folder, which is what keeps deep walks
// fast; fullPath always accompanies a relative call so that a test double can
// decide by path which calls to fail.
//
// Implementations must be safe to call from several threads at once.
class FileSystem
{
public:
    static constexpr int CurrentDirectory = -100;

    virtual ~FileSystem() = default;

    // stat (followLinks) or lstat. False when the path does not exist or
    // cannot be examined.
    virtual bool stat(const QByteArray& path, bool followLinks, FileStat* out) const = 0;
    virtual bool statAt(int dirFd, const char* name, const QByteArray& fullPath, bool followLinks,
                        FileStat* out) const = 0;

    // Opens a directory for reading (following a symbolic link to it).
    // Returns a descriptor, or -1. dirFd may be CurrentDirectory for an
    // absolute path.
    virtual int openDirectory(int dirFd, const char* name, const QByteArray& fullPath) const = 0;
    // Reads every entry of an open directory into out (which is cleared first).
    virtual bool readDirectory(int fd, const QByteArray& fullPath, DirectoryNames* out) const = 0;
    virtual void closeDirectory(int fd) const = 0;

    // Shallow listing of a folder: direct children with their lstat values,
    // hidden names (leading dot) skipped, in the order the kernel returned
    // them. False, with a message in error, when the folder cannot be read.
    virtual bool listDirectory(const QByteArray& path, QList<DirEntry>* out, QString* error = nullptr) const;

    bool exists(const QByteArray& path) const;
};

using FileSystemPtr = std::shared_ptr<const FileSystem>;
