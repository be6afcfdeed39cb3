#include "UsageWalker.h"

#include <QThread>
#include <QThreadPool>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <unordered_set>
#include <vector>

namespace {

constexpr qint64 progressEvery = 8192;

struct InodeKey
{
    quint64 device;
    quint64 inode;
    bool operator==(const InodeKey&) const = default;
};

struct InodeHash
{
    size_t operator()(const InodeKey& key) const noexcept { return std::hash<quint64>()(key.inode * 31 + key.device); }
};


} // namespace

// The shared state of one walk: the tree being filled, the set of inodes
// with several names, the queue of folders handed over between threads.
class UsageWalk
{
public:
    struct Job
    {
        int fd;
        UsageTree::Index index;
        QByteArray path;
    };

    UsageWalk(const FileSystem& fs, UsageTree& tree, quint64 device, const UsageWalker::Options& options)
        : m_fs(fs)
        , m_tree(tree)
        , m_device(device)
        , m_options(options)
    {
    }

    void push(Job job)
    {
        std::lock_guard lock(m_queueMutex);
        m_jobs.push_back(std::move(job));
        m_queued.fetch_add(1, std::memory_order_relaxed);
        m_wake.notify_one();
    }

    // Runs jobs until none is left and no worker can make more.
    void work()
    {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(m_queueMutex);
                ++m_waiting;
                m_wake.wait(lock, [this] { return !m_jobs.empty() || m_active == 0; });
                --m_waiting;
                if (m_jobs.empty()) {
                    m_wake.notify_all();
                    return;
                }
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
                m_queued.fetch_sub(1, std::memory_order_relaxed);
                ++m_active;
            }
            walkJob(std::move(job));
            {
                std::lock_guard lock(m_queueMutex);
                --m_active;
                if (m_active == 0 && m_jobs.empty()) {
                    m_wake.notify_all();
                }
            }
        }
    }

    bool cancelled() const { return m_options.cancel && m_options.cancel->load(std::memory_order_relaxed); }

private:
    // A folder whose entries have been recorded, with the subfolders still
    // to enter (their names back to back in names, each ending in a zero).
    struct Frame
    {
        int fd;
        QByteArray path;
        QByteArray names;
        std::vector<std::pair<UsageTree::Index, qsizetype>> folders;
        size_t next = 0;
    };

    struct Child
    {
        qsizetype nameOffset;
        qsizetype nameLength;
        qint64 size;
        quint8 flags;
        bool enter;
    };

    bool wantsWork() const
    {
        // Unlocked peek: a stale answer only changes who walks a folder.
        return m_waiting.load(std::memory_order_relaxed) > m_queued.load(std::memory_order_relaxed);
    }

    void mark(UsageTree::Index index, UsageNode::Flag flag)
    {
        std::lock_guard lock(m_treeMutex);
        m_tree.m_nodes[index].flags |= flag;
    }

    // Depth first with an explicit stack, so that deep trees cannot exhaust
    // the thread's own stack.
    void walkJob(Job job)
    {
        if (cancelled()) {
            m_fs.closeDirectory(job.fd);
            return;
        }
        std::vector<Frame> stack;
        if (Frame* root = list(stack, job.fd, job.index, std::move(job.path)); !root) {
            return;
        }
        while (!stack.empty()) {
            Frame& top = stack.back();
            if (top.next == top.folders.size() || cancelled()) {
                m_fs.closeDirectory(top.fd);
                stack.pop_back();
                continue;
            }
            const auto [index, offset] = top.folders[top.next++];
            const char* name = top.names.constData() + offset;
            QByteArray path = top.path;
            if (!path.endsWith('/')) {
                path.append('/');
            }
            path.append(name);
            int fd = -1;
            if (m_fs.openDirectoryNoFollow(top.fd, name, path, &fd) != 0) {
                mark(index, UsageNode::Unreadable);
                continue;
            }
            if (m_options.crossFileSystems && m_fs.isPseudoFileSystem(fd, path)) {
                m_fs.closeDirectory(fd);
                mark(index, UsageNode::PseudoFileSystem);
                continue;
            }
            if (wantsWork()) {
                push(Job{fd, index, std::move(path)});
                continue;
            }
            list(stack, fd, index, std::move(path));
        }
    }

    // Records the entries of one open folder and pushes its frame; on a
    // failure the folder is marked, its descriptor closed and nothing pushed.
    Frame* list(std::vector<Frame>& stack, int fd, UsageTree::Index index, QByteArray path)
    {
        if (!m_fs.readDirectory(fd, path, &m_scratch)) {
            m_fs.closeDirectory(fd);
            mark(index, UsageNode::Unreadable);
            return nullptr;
        }
        Frame frame{fd, std::move(path), {}, {}, 0};
        std::vector<Child> children;
        children.reserve(size_t(m_scratch.names.size()));
        QByteArray childPath = frame.path;
        if (!childPath.endsWith('/')) {
            childPath.append('/');
        }
        const qsizetype base = childPath.size();
        qint64 bytes = 0;
        for (const DirectoryNames::Name& n : m_scratch.names) {
            const char* name = m_scratch.buffer.constData() + n.offset;
            childPath.truncate(base);
            childPath.append(name, n.length);
            FileStat st;
            if (!m_fs.statAt(fd, name, childPath, false, &st)) {
                continue; // gone since the listing
            }
            Child child{n.offset, n.length, st.space(), 0, false};
            if (st.isDirectory) {
                child.flags |= UsageNode::Directory;
                if (st.device != m_device && !m_options.crossFileSystems) {
                    child.flags |= UsageNode::OtherFileSystem;
                    child.size = 0;
                } else {
                    child.enter = true;
                }
            } else {
                if (st.isSymlink) {
                    child.flags |= UsageNode::SymbolicLink;
                }
                if (st.linkCount > 1 && !firstName(st)) {
                    child.flags |= UsageNode::RepeatedInode;
                    child.size = 0;
                }
            }
            bytes += child.size;
            children.push_back(child);
        }

        UsageTree::Index first = 0;
        {
            std::lock_guard lock(m_treeMutex);
            std::vector<UsageNode>& nodes = m_tree.m_nodes;
            std::vector<char>& arena = m_tree.m_names;
            first = UsageTree::Index(nodes.size());
            nodes[index].firstChild = first;
            nodes[index].childCount = quint32(children.size());
            for (const Child& child : children) {
                UsageNode node;
                node.size = child.size;
                node.nameOffset = arena.size();
                node.nameLength = quint16(child.nameLength);
                node.parent = index;
                node.flags = child.flags;
                const char* name = m_scratch.buffer.constData() + child.nameOffset;
                arena.insert(arena.end(), name, name + child.nameLength);
                nodes.push_back(node);
            }
        }
        for (size_t i = 0; i < children.size(); ++i) {
            if (children[i].enter) {
                frame.folders.emplace_back(first + UsageTree::Index(i), frame.names.size());
                frame.names.append(m_scratch.buffer.constData() + children[i].nameOffset, children[i].nameLength + 1);
            }
        }
        reportProgress(qint64(children.size()), bytes);
        stack.push_back(std::move(frame));
        return &stack.back();
    }

    bool firstName(const FileStat& st)
    {
        std::lock_guard lock(m_inodeMutex);
        return m_seenInodes.insert(InodeKey{st.device, st.inode}).second;
    }

    void reportProgress(qint64 entries, qint64 bytes)
    {
        const qint64 before = m_entries.fetch_add(entries, std::memory_order_relaxed);
        const qint64 total = m_bytes.fetch_add(bytes, std::memory_order_relaxed) + bytes;
        if (m_options.progress && before / progressEvery != (before + entries) / progressEvery) {
            m_options.progress(before + entries, total);
        }
    }

    const FileSystem& m_fs;
    UsageTree& m_tree;
    const quint64 m_device;
    const UsageWalker::Options& m_options;
    std::mutex m_treeMutex;
    std::mutex m_inodeMutex;
    std::unordered_set<InodeKey, InodeHash> m_seenInodes;
    std::mutex m_queueMutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    int m_active = 0;
    std::atomic<int> m_waiting{0};
    std::atomic<int> m_queued{0};
    std::atomic<qint64> m_entries{0};
    std::atomic<qint64> m_bytes{0};
    static thread_local DirectoryNames m_scratch;
};

thread_local DirectoryNames UsageWalk::m_scratch;

UsageWalker::UsageWalker(FileSystemPtr fileSystem, int threads)
    : m_fs(std::move(fileSystem))
    , m_pool(std::make_shared<QThreadPool>())
    , m_threads(std::max(1, threads))
{
    m_pool->setMaxThreadCount(std::max(1, m_threads - 1));
    m_pool->setExpiryTimeout(5000);
}

int UsageWalker::defaultThreads()
{
    // A cold walk waits on the disk, so more threads than cores keep more
    // requests in flight (on two cores eight walked a cold tree in 0.44 of
    // du's time, four in 0.56); warm, the extra ones cost little.
    return std::clamp(QThread::idealThreadCount() * 4, 8, 32);
}

UsageTree UsageWalker::walk(const FilePath& root, const Options& options) const
{
    return walkFrom(root, true, std::nullopt, options);
}

UsageTree UsageWalker::refresh(const UsageTree& tree, const FilePath& path, const Options& options) const
{
    const UsageTree fresh = walkFrom(path, false, tree.device(), options);
    return tree.withSubtree(path, fresh);
}

UsageTree UsageWalker::walkFrom(const FilePath& root, bool followRoot, std::optional<quint64> device,
                                const Options& options) const
{
    UsageTree tree;
    tree.m_root = root;
    const QByteArray& rootPath = root.native();
    FileStat st;
    if (!m_fs->stat(rootPath, followRoot, &st)) {
        return tree;
    }
    tree.m_device = device.value_or(st.device);
    UsageNode node;
    node.size = st.space();
    if (st.isDirectory) {
        node.flags |= UsageNode::Directory;
    } else if (st.isSymlink) {
        node.flags |= UsageNode::SymbolicLink;
    }
    tree.m_nodes.push_back(node);
    if (!st.isDirectory) {
        return tree;
    }
    if (st.device != tree.m_device && !options.crossFileSystems) {
        tree.m_nodes[0].flags |= UsageNode::OtherFileSystem;
        tree.m_nodes[0].size = 0;
        return tree;
    }
    int fd = -1;
    if (followRoot) {
        fd = m_fs->openDirectory(FileSystem::CurrentDirectory, rootPath.constData(), rootPath);
    } else if (m_fs->openDirectoryNoFollow(FileSystem::CurrentDirectory, rootPath.constData(), rootPath, &fd) != 0) {
        fd = -1;
    }
    if (fd < 0) {
        tree.m_nodes[0].flags |= UsageNode::Unreadable;
        tree.finish();
        return tree;
    }
    if (m_fs->isPseudoFileSystem(fd, rootPath)) {
        m_fs->closeDirectory(fd);
        tree.m_nodes[0].flags |= UsageNode::PseudoFileSystem;
        return tree;
    }
    auto walk = std::make_shared<UsageWalk>(*m_fs, tree, tree.m_device, options);
    walk->push(UsageWalk::Job{fd, 0, rootPath});
    // The helpers hold the shared state; one that starts after the walk has
    // ended finds nothing to do and leaves at once. The tree and the options
    // outlive them: walk() returns only after every worker has left work().
    std::atomic<int> running{0};
    std::mutex doneMutex;
    std::condition_variable done;
    for (int i = 1; i < m_threads; ++i) {
        ++running;
        m_pool->start([walk, &running, &doneMutex, &done] {
            walk->work();
            std::lock_guard lock(doneMutex);
            --running;
            done.notify_all();
        });
    }
    walk->work();
    {
        std::unique_lock lock(doneMutex);
        done.wait(lock, [&running] { return running.load() == 0; });
    }
    tree.m_cancelled = walk->cancelled();
    tree.finish();
    return tree;
}
