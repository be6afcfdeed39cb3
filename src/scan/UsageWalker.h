#pragma once

#include "UsageTree.h"
#include "platform/FileSystem.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QThreadPool;

// How one walk goes.
struct UsageWalkOptions
{
    bool crossFileSystems = false;
    // Checked between folders; once set, the walk ends soon and the tree
    // holds what was found (wasCancelled()).
    const std::atomic<bool>* cancel = nullptr;
    // Called every few thousand entries with the entries and bytes found
    // so far, from any of the walking threads (sometimes two at once).
    std::function<void(qint64 entries, qint64 bytes)> progress;
};

// Builds UsageTrees: one walk of a folder over several threads, counting
// what du counts. Every entry's allocated size (st_blocks × 512, folders and
// links included, links never followed below the root), hidden entries too;
// each inode with several names once, at the first name found; nothing on
// another file system unless crossFileSystems; kernel pseudo file systems
// never. A folder that cannot be read is kept with its own size and marked.
//
// Threads: walk() runs on the calling thread, which works along with the
// walker's own threads; a worker hands a folder over with its open
// descriptor only while another one waits for work, so the open descriptors
// stay about depth × threads. Copies share the threads.
class UsageWalker
{
public:
    using Options = UsageWalkOptions;

    explicit UsageWalker(FileSystemPtr fileSystem, int threads = defaultThreads());

    static int defaultThreads();

    // The tree of root; a symbolic link given as the root is followed. A
    // missing root gives an empty tree.
    UsageTree walk(const FilePath& root, const Options& options = {}) const;

    // The tree with the subtree at path walked again (after a move, the
    // Trash or a cleanup): added, replaced or removed, the folders above
    // updated, nothing else read from the disk. An inode that also has a
    // name outside the subtree may count twice until the next full walk.
    UsageTree refresh(const UsageTree& tree, const FilePath& path, const Options& options = {}) const;

    const FileSystemPtr& fileSystem() const { return m_fs; }

private:
    UsageTree walkFrom(const FilePath& root, bool followRoot, std::optional<quint64> device,
                       const Options& options) const;

    FileSystemPtr m_fs;
    std::shared_ptr<QThreadPool> m_pool;
    int m_threads;
};
