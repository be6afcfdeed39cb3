#pragma once

#include "base/FilePath.h"
#include "platform/FileSystem.h"
#include "platform/ScopedDirectory.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <optional>

// Copies a folder tree (or one file) to a new place for the clean archives:
// folders recursively, links as links, permissions and times kept, and on
// the way, if asked, the SHA-256 of every file from the very bytes written.
//
// Everything is done through directory descriptors: every folder is opened
// relative to its parent without following a symbolic link, every entry is
// created relative to its folder and never replaces anything (new files with
// O_EXCL, links with symlinkat). A link that came with the source is
// recreated as a link; nothing is ever written through one.
//
// With digests on, files are copied by two threads (the caller's and one
// helper) while the caller walks the tree: hashing is the larger part of the
// work, and media folders run to gigabytes.
class CleanArchiveCopier
{
public:
    // Whether a child entry stays out of the copy (given its name and lstat).
    using Skip = std::function<bool(const QByteArray& name, const FileStat& st)>;

    struct Options
    {
        // Applied below the root only; may be empty.
        Skip skip;
        // Compute the digest of the copy: a file's digest, or a folder's digest
        // (hidden entries below it must then be skipped by skip, as the folder
        // digest leaves them out).
        bool digest = false;
        // Permission bits kept from the source.
        unsigned permissionMask = 07777;
        // Whether the source root itself may be a link to the folder or file to
        // copy (the user's ~/Documents may be one); entries below never are
        // followed.
        bool followSourceRoot = false;
    };

    struct Result
    {
        // errno of the first failure (the copy stops there); 0 on success.
        int error = 0;
        // The entry that failed.
        FilePath failedPath;
        bool isDirectory = false;
        // A folder: allocated size of the files and links in it; a file: its length.
        qint64 size = 0;
        std::optional<QByteArray> sha256;

        bool ok() const { return error == 0; }
        // The platform's description of the failure, with the entry it concerns.
        QString message() const;
    };

    explicit CleanArchiveCopier(FileSystemPtr fileSystem);

    // target must not exist; its parent must.
    Result copy(const FilePath& source, const FilePath& target, const Options& options) const;

    // Removes a tree this program made (a partial copy, a payload, an
    // extraction folder), giving its folders back their owner's write
    // permission first: a copied read-only folder could not be emptied
    // otherwise. 0 or the first errno.
    int removeTree(const FilePath& path) const;

private:
    struct Run;
    struct FileJob;
    using Folder = std::shared_ptr<ScopedDirectory>;

    int copyFile(int fromDir, const char* fromName, const QByteArray& fromPath, int toDir, const char* toName,
                 const QByteArray& toPath, const FileStat& st, const QByteArray& relative, QByteArray* buffer,
                 Run* run) const;
    void runJob(const FileJob& job, QByteArray* buffer, Run* run) const;
    int copyContents(const Folder& from, const QByteArray& fromPath, const Folder& to, const QByteArray& toPath,
                     const QByteArray& relative, Run* run) const;
    int copyEntry(const Folder& fromDir, const char* name, const QByteArray& fromPath, const Folder& toDir,
                  const QByteArray& toPath, const QByteArray& relative, Run* run) const;
    int makeWritable(int dirFd, const QByteArray& path, int depth = 0) const;

    FileSystemPtr m_fs;
};
