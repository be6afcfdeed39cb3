#pragma once

#include "FileSystem.h"
#include "base/FilePath.h"

#include <QList>

// The folders that changes to the user's files are reached from: the home,
// and folders that may lie elsewhere or be links themselves (a cache folder
// linked to another disk, the archive folder). Each root is resolved once,
// when it is added, and opened by that resolved path; below it every folder
// is opened from its parent's descriptor without following a link (see
// FileSystem::openParentBeneath), so a folder swapped for a link after that
// cannot redirect a deletion or a move. A path below no root is opened by its
// path, as before.
//
// A value, cheap to copy.
class TrustedRoots
{
public:
    TrustedRoots() = default;
    // One root, opened by its path at each use (tests, and callers that have
    // nothing to resolve).
    TrustedRoots(FilePath root);

    // The roots, each resolved now through fs (a root that cannot be resolved
    // is opened by its path).
    static TrustedRoots resolved(const FileSystem& fs, const QList<FilePath>& roots);
    TrustedRoots with(const FileSystem& fs, const FilePath& root) const;

    // Opens the folder that holds path, from the innermost root that path
    // lies strictly below. 0 and the descriptor, or an errno.
    int openParent(const FileSystem& fs, const QByteArray& path, int* fd) const;

    bool isEmpty() const { return m_roots.isEmpty(); }

private:
    struct Root
    {
        QByteArray path;
        QByteArray openAs;
    };
    QList<Root> m_roots;
};
