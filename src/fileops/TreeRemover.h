#pragma once

#include "platform/TrustedRoots.h"

#include "base/FilePath.h"
#include "platform/FileSystem.h"

#include <QString>

// Deletes a file, a link or a whole folder tree, permanently.
//
// The tree is taken apart through directory descriptors: every folder is
// opened relative to its parent without following a symbolic link, and every
// entry is removed relative to its folder. A link anywhere in the tree, the
// root included, is removed as a link; what it points at is never touched,
// even if a folder is swapped for a link while the removal runs. Folders on
// another file system (a mount inside the tree) are not entered.
//
// A failure does not stop the removal: everything else that can go, goes,
// and the first failure is reported. The folders above a failed entry stay,
// since they are not empty.
class TreeRemover
{
public:
    struct Result
    {
        // errno of the first failure; 0 when everything is gone.
        int error = 0;
        // The entry that failed first.
        FilePath failedPath;

        bool ok() const { return error == 0; }
        // The platform's description of the first failure.
        QString message() const;
    };

    // roots: the trusted folders (the home, the cache folder) that paths
    // below them are reached from: see remove().
    explicit TreeRemover(FileSystemPtr fileSystem, TrustedRoots roots = {});

    // path must be absolute. Below a root every folder on the way is
    // opened from its parent without following a link (a link there fails
    // with ELOOP or ENOTDIR and nothing is removed); elsewhere the folders
    // above it are followed as usual. The entry itself is never followed. A
    // missing entry fails with ENOENT.
    Result remove(const FilePath& path) const;

private:
    FileSystemPtr m_fs;
    TrustedRoots m_roots;
};
