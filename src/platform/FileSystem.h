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
    // Copies, digests and measurements that recurse stop with ENAMETOOLONG
    // this many folders below their root: a deeper tree (one that copied
    // itself into itself, say) must end in an error, not in a stack overflow
    // or running out of descriptors.
    static constexpr int maxTreeDepth = 256;

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

    // Changing the file system. Each call returns 0 or the errno of the
    // failure, so that callers can show the platform's own description
    // (strerror) of what went wrong. Relative calls take dirFd, which may be
    // CurrentDirectory for an absolute name. Nothing here follows a symbolic
    // link in the last component.

    // Opens a directory refusing a symbolic link (for deleting and copying trees).
    virtual int openDirectoryNoFollow(int dirFd, const char* name, const QByteArray& fullPath, int* fd) const = 0;
    virtual int makeDirectoryAt(int dirFd, const char* name, const QByteArray& fullPath, unsigned mode) const = 0;
    // With noReplace an existing target makes the rename fail with EEXIST
    // instead of replacing it.
    virtual int renameAt(int fromDirFd, const char* fromName, const QByteArray& fromPath, int toDirFd,
                         const char* toName, const QByteArray& toPath, bool noReplace) const = 0;
    virtual int removeAt(int dirFd, const char* name, const QByteArray& fullPath, bool directory) const = 0;
    virtual int symlinkAt(const QByteArray& target, int dirFd, const char* name, const QByteArray& fullPath) const = 0;
    virtual int readLinkAt(int dirFd, const char* name, const QByteArray& fullPath, QByteArray* target) const = 0;
    // O_NOFOLLOW and O_CLOEXEC are always added to flags.
    virtual int openFileAt(int dirFd, const char* name, const QByteArray& fullPath, int flags, unsigned mode,
                           int* fd) const = 0;
    // Copies length bytes between the files' current offsets, in the kernel
    // where it can.
    virtual int copyFileData(int fromFd, int toFd, qint64 length, const QByteArray& fromPath,
                             const QByteArray& toPath) const = 0;
    virtual int writeAll(int fd, const QByteArray& data, const QByteArray& fullPath) const = 0;
    // Flushes everything written to the file system that holds fd.
    virtual int syncFileSystem(int fd, const QByteArray& fullPath) const = 0;
    // Flushes one file (or folder) to the disk: its data and its metadata.
    virtual int syncFile(int fd, const QByteArray& fullPath) const = 0;
    // Sets permission bits (unless permissions is negative) and the access and
    // modification times of an entry itself, links included.
    virtual int setAttributesAt(int dirFd, const char* name, const QByteArray& fullPath, int permissions,
                                qint64 accessedNs, qint64 modifiedNs) const = 0;
    virtual void closeFile(int fd) const = 0;

    // Shallow listing of a folder: direct children with their lstat values,
    // hidden names (leading dot) skipped, in the order the kernel returned
    // them. False, with a message in error, when the folder cannot be read.
    virtual bool listDirectory(const QByteArray& path, QList<DirEntry>* out, QString* error = nullptr) const;

    // Whether the calling user may create entries in (or write) this path, as
    // the system's access check answers it (permissions, ACLs, read-only mounts).
    virtual bool isWritable(const QByteArray& path) const = 0;

    // The path with every link resolved (realpath); empty when it cannot be.
    virtual QByteArray resolvedPath(const QByteArray& path) const = 0;
    // Whether the open folder lies on a file system that holds no user data
    // (proc, sysfs, devtmpfs, cgroup, debugfs, …): walks never enter one.
    virtual bool isPseudoFileSystem(int dirFd, const QByteArray& fullPath) const = 0;

    bool exists(const QByteArray& path) const;

    // Opens the folder that holds path for changing it. When path lies
    // strictly below anchor, the anchor is opened and every folder below it
    // is opened from its parent without following a symbolic link (ELOOP or
    // ENOTDIR when one is a link), so that a folder swapped for a link since
    // it was found cannot redirect the change. Otherwise (empty anchor, path
    // elsewhere) the parent is opened by its path. The anchor itself is
    // opened by openAnchorAs when given (its path resolved earlier). 0 and
    // the descriptor, or an errno.
    int openParentBeneath(const QByteArray& anchor, const QByteArray& path, int* fd,
                          const QByteArray& openAnchorAs = {}) const;
};

using FileSystemPtr = std::shared_ptr<const FileSystem>;
