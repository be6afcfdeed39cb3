#pragma once

#include "WalkExclusion.h"
#include "base/FilePath.h"
#include "platform/FileSystem.h"

#include <QFuture>

#include <functional>
#include <memory>

class QThreadPool;
struct AppSettings;

// One visited entry. The references are valid only during the handler call.
struct WalkEntry
{
    const QByteArray& path;
    bool isDirectory;
    // The entry can be examined as (parentFd, name) without resolving the path again.
    int parentFd;
    const char* name;
};

using WalkHandler = std::function<void(const WalkEntry&)>;

// Visits folder trees and sizes files and folders. Stateless between calls and
// without a cache; copies share one set of sizing threads.
//
// Rules of a walk: an excluded path is not visited (nor anything below it);
// entries deeper than maxDepth are not visited (the root has depth 0); the
// existence and directory test follows symbolic links, so a link to a folder
// is walked as a folder and a dangling link is skipped; hidden names are not
// visited below the root; folders are reported before their contents; a folder
// that cannot be listed contributes nothing. Each folder is entered at most
// once per walk (by device and inode, so a link to a folder already walked,
// or a link cycle, adds nothing), a file with several hard links counts once
// per sizing, pseudo file systems (proc, sysfs, devtmpfs, cgroup, …) are
// never entered, and a link to a folder outside the boundary is not followed.
class DirectoryWalker
{
public:
    // boundary (the home), when given: a link to a folder outside it is not
    // followed.
    explicit DirectoryWalker(FileSystemPtr fileSystem, int sizingThreads = defaultSizingThreads(),
                             FilePath boundary = {});

    static int defaultSizingThreads();

    static bool shouldExclude(const FilePath& path, const AppSettings& settings, WalkExclusionMode mode);

    // The synchronous pre-order walk; the handler runs on the calling thread,
    // strictly sequentially.
    void walkSync(const FilePath& root, const AppSettings& settings, int depth, int maxDepth,
                  WalkExclusionMode mode, const WalkHandler& handler) const;
    // Runs walkSync from depth 0 in mode standard on a worker thread; the
    // handler runs there. The future finishes when the whole walk has.
    QFuture<void> walkDirectory(const FilePath& root, const AppSettings& settings, int maxDepth,
                                WalkHandler handler) const;

    // Bytes of every non-directory entry a walk with these limits reaches.
    // Synchronous for the caller; the tree is shared out over the sizing threads.
    qint64 directorySize(const FilePath& root, const AppSettings& settings, int maxDepth,
                         WalkExclusionMode mode) const;

    // Allocated size on disk of the entry itself (a symbolic link is not
    // followed), else its length, else 0.
    qint64 fileSize(const FilePath& path) const;
    qint64 fileSize(const WalkEntry& entry) const;
    // From the entry's own type: a symbolic link is not a directory here.
    bool isDirectory(const FilePath& path) const;

    const FileSystemPtr& fileSystem() const { return m_fs; }

private:
    FileSystemPtr m_fs;
    FilePath m_boundary;
    std::shared_ptr<QThreadPool> m_pool;
    int m_sizingThreads;
};
