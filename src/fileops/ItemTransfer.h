#pragma once

#include "platform/TrustedRoots.h"

#include "base/FilePath.h"
#include "platform/FileSystem.h"

#include <QString>

// Moves one file system object (a file, a symbolic link or a whole folder) to
// a new path that must not exist yet, without ever losing a byte.
//
// Within one volume this is a rename that never replaces anything. Across
// volumes the item is copied to a hidden temporary name beside the target
// (".brisko-partial-" and the ProcessTag of this process, so that a later run
// can sweep what a killed one left)
// (folders recursively, links as links, permissions and times kept), the
// target's file system is flushed, the copy is checked against the source,
// and only then renamed into place and the source removed. If anything fails
// before the copy is complete, the partial copy is removed and the source is
// left as it was. If removing the source fails after a complete copy, both
// copies stay and the outcome says so.
//
// Used from one worker thread at a time; all disk access goes through the
// given FileSystem.
class ItemTransfer
{
public:
    enum class Outcome {
        moved,
        // Nothing changed at the source; the target does not exist.
        failed,
        // The complete copy is at the target, but (part of) the source is still there.
        copiedSourceKept,
    };

    struct Result
    {
        Outcome outcome = Outcome::failed;
        // The platform's description of what failed (empty when moved).
        QString error;
    };

    // roots: the trusted folders (the home, the archive folder) below which
    // the folders of the source and of the target are opened one by one
    // without following links, so that a folder swapped for a link cannot
    // redirect the move.
    explicit ItemTransfer(FileSystemPtr fileSystem, TrustedRoots roots = {});

    static inline const QByteArray partialPrefix = QByteArrayLiteral(".brisko-partial-");

    Result move(const FilePath& source, const FilePath& target) const;

    // Creates a folder and its missing parents; 0 or an errno.
    int makePath(const FilePath& folder) const;

    static QString describe(int errnoValue);

private:
    struct Tally;

    Result copyThenRemove(const FilePath& source, const FilePath& target) const;
    // Copies a file, a link or a whole folder (depth first, without recursion
    // and with a bounded number of descriptors, so any depth of tree copies).
    int copyEntry(int fromDir, const char* fromName, const QByteArray& fromPath, int toDir, const char* toName,
                  const QByteArray& toPath, Tally* tally) const;
    int copyLeaf(int fromDir, const char* fromName, const QByteArray& fromPath, const FileStat& st, int toDir,
                 const char* toName, const QByteArray& toPath, Tally* tally) const;
    int measure(int dirFd, const char* name, const QByteArray& path, Tally* tally) const;
    // 0 when the tree is gone (or was never there), else the first errno.
    int removeTree(const QByteArray& path) const;

    FileSystemPtr m_fs;
    TrustedRoots m_roots;
};
