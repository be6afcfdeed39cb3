#include "DirectoryWalker.h"

#include "app/AppSettings.h"

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace {

qint64 sizeFromStat(const FileStat& st)
{
    return st.hasAllocatedSize ? st.allocatedSize : st.size;
}

// Resolves what a listed name is, with as few system calls as the kernel's
// type hint allows. False when the entry is gone or is a dangling link.
bool resolveKind(const FileSystem& fs, int dirFd, const char* name, const QByteArray& path,
                 DirectoryNames::Kind kind, bool* isDirectory)
{
    switch (kind) {
    case DirectoryNames::Kind::Directory:
        *isDirectory = true;
        return true;
    case DirectoryNames::Kind::Regular:
    case DirectoryNames::Kind::Other:
        *isDirectory = false;
        return true;
    case DirectoryNames::Kind::Symlink:
    case DirectoryNames::Kind::Unknown:
        break;
    }
    FileStat st;
    if (!fs.statAt(dirFd, name, path, true, &st)) {
        return false;
    }
    *isDirectory = st.isDirectory;
    return true;
}

// The sequential walk. One listing buffer per depth level is reused, so memory
// follows the depth and the widest folder, not the number of entries.
class SequentialWalk
{
public:
    SequentialWalk(const FileSystem& fs, const WalkExclusion& exclusion, int maxDepth, const WalkHandler& handler)
        : m_fs(fs)
        , m_exclusion(exclusion)
        , m_maxDepth(maxDepth)
        , m_handler(handler)
    {
    }

    void run(const QByteArray& root, int depth)
    {
        if (m_exclusion.excludes(root) || depth > m_maxDepth) {
            return;
        }
        FileStat st;
        if (!m_fs.stat(root, true, &st)) {
            return;
        }
        m_path = root;
        m_handler(WalkEntry{m_path, st.isDirectory, FileSystem::CurrentDirectory, root.constData()});
        if (!st.isDirectory || depth >= m_maxDepth) {
            return;
        }
        const int fd = m_fs.openDirectory(FileSystem::CurrentDirectory, root.constData(), root);
        if (fd < 0) {
            return;
        }
        m_levels.resize(size_t(m_maxDepth - depth) + 1);
        walkChildren(fd, depth + 1, 0);
        m_fs.closeDirectory(fd);
    }

private:
    void walkChildren(int fd, int depth, size_t level)
    {
        DirectoryNames& names = m_levels[level];
        if (!m_fs.readDirectory(fd, m_path, &names)) {
            return;
        }
        const qsizetype parentLength = m_path.size();
        m_path.append('/');
        for (const DirectoryNames::Name& n : names.names) {
            const char* name = names.buffer.constData() + n.offset;
            if (name[0] == '.') {
                continue;
            }
            m_path.truncate(parentLength + 1);
            m_path.append(name, n.length);
            if (m_exclusion.excludesChild(m_path, parentLength)) {
                continue;
            }
            bool isDirectory = false;
            if (!resolveKind(m_fs, fd, name, m_path, n.kind, &isDirectory)) {
                continue;
            }
            m_handler(WalkEntry{m_path, isDirectory, fd, name});
            if (isDirectory && depth < m_maxDepth) {
                const int child = m_fs.openDirectory(fd, name, m_path);
                if (child >= 0) {
                    walkChildren(child, depth + 1, level + 1);
                    m_fs.closeDirectory(child);
                }
            }
        }
        m_path.truncate(parentLength);
    }

    const FileSystem& m_fs;
    const WalkExclusion& m_exclusion;
    const int m_maxDepth;
    const WalkHandler& m_handler;
    QByteArray m_path;
    std::vector<DirectoryNames> m_levels;
};

// Folder sizing shared out over several threads. Every worker walks its folder
// like the sequential walk; a folder found while others wait for work is
// handed over (with its open descriptor) instead of being walked in place.
// Which thread counts which file changes nothing in the total.
class ParallelSizing
{
public:
    struct Job
    {
        int fd;
        QByteArray path;
        int depth; // depth of the folder itself
    };

    ParallelSizing(const FileSystem& fs, const AppSettings& settings, WalkExclusionMode mode, int maxDepth)
        : m_fs(fs)
        , m_exclusion(settings, mode)
        , m_maxDepth(maxDepth)
    {
    }

    void push(Job job)
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
        m_queued.fetch_add(1, std::memory_order_relaxed);
        m_wake.notify_one();
    }

    // Runs jobs until none is left and no worker can make more.
    void work()
    {
        std::vector<DirectoryNames> levels(size_t(m_maxDepth) + 2);
        for (;;) {
            Job job;
            {
                std::unique_lock lock(m_mutex);
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
            qint64 subtotal = 0;
            sizeChildren(job.fd, job.path, job.depth + 1, levels, 0, &subtotal);
            m_fs.closeDirectory(job.fd);
            m_total.fetch_add(subtotal, std::memory_order_relaxed);
            {
                std::lock_guard lock(m_mutex);
                --m_active;
                if (m_active == 0 && m_jobs.empty()) {
                    m_wake.notify_all();
                }
            }
        }
    }

    qint64 total() const { return m_total.load(); }
    const WalkExclusion& exclusion() const { return m_exclusion; }

private:
    bool wantsWork()
    {
        // Unlocked peek: a stale answer only changes who walks a folder. Jobs
        // are handed out only to workers that wait for one, so the queue (and
        // the descriptors it holds open) stays as small as the thread count.
        return m_waiting.load(std::memory_order_relaxed) > m_queued.load(std::memory_order_relaxed);
    }

    void sizeChildren(int fd, QByteArray& path, int depth, std::vector<DirectoryNames>& levels, size_t level,
                      qint64* subtotal)
    {
        DirectoryNames& names = levels[level];
        if (!m_fs.readDirectory(fd, path, &names)) {
            return;
        }
        const qsizetype parentLength = path.size();
        path.append('/');
        for (const DirectoryNames::Name& n : names.names) {
            const char* name = names.buffer.constData() + n.offset;
            if (name[0] == '.') {
                continue;
            }
            path.truncate(parentLength + 1);
            path.append(name, n.length);
            if (m_exclusion.excludesChild(path, parentLength)) {
                continue;
            }
            bool isDirectory = false;
            if (!resolveKind(m_fs, fd, name, path, n.kind, &isDirectory)) {
                continue;
            }
            if (!isDirectory) {
                FileStat st;
                if (m_fs.statAt(fd, name, path, false, &st)) {
                    *subtotal += sizeFromStat(st);
                }
                continue;
            }
            if (depth >= m_maxDepth) {
                continue;
            }
            const int child = m_fs.openDirectory(fd, name, path);
            if (child < 0) {
                continue;
            }
            if (wantsWork()) {
                push(Job{child, path, depth});
                continue;
            }
            sizeChildren(child, path, depth + 1, levels, level + 1, subtotal);
            m_fs.closeDirectory(child);
        }
        path.truncate(parentLength);
    }

    const FileSystem& m_fs;
    const WalkExclusion m_exclusion;
    const int m_maxDepth;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    int m_active = 0;
    std::atomic<int> m_waiting{0};
    std::atomic<int> m_queued{0};
    std::atomic<qint64> m_total{0};
};

} // namespace

DirectoryWalker::DirectoryWalker(FileSystemPtr fileSystem, int sizingThreads)
    : m_fs(std::move(fileSystem))
    , m_pool(std::make_shared<QThreadPool>())
    , m_sizingThreads(std::max(1, sizingThreads))
{
    m_pool->setMaxThreadCount(std::max(1, m_sizingThreads - 1));
    m_pool->setExpiryTimeout(5000);
}

int DirectoryWalker::defaultSizingThreads()
{
    // Walks wait on the disk more than on the processor when the cache is
    // cold, so a few more threads than cores pay off; warm, they cost little.
    return std::max(4, QThread::idealThreadCount() * 2);
}

bool DirectoryWalker::shouldExclude(const FilePath& path, const AppSettings& settings, WalkExclusionMode mode)
{
    return WalkExclusion(settings, mode).excludes(path.native());
}

void DirectoryWalker::walkSync(const FilePath& root, const AppSettings& settings, int depth, int maxDepth,
                               WalkExclusionMode mode, const WalkHandler& handler) const
{
    const WalkExclusion exclusion(settings, mode);
    SequentialWalk(*m_fs, exclusion, maxDepth, handler).run(root.native(), depth);
}

QFuture<void> DirectoryWalker::walkDirectory(const FilePath& root, const AppSettings& settings, int maxDepth,
                                             WalkHandler handler) const
{
    DirectoryWalker self = *this;
    return QtConcurrent::run([self, root, settings, maxDepth, handler = std::move(handler)] {
        self.walkSync(root, settings, 0, maxDepth, WalkExclusionMode::standard, handler);
    });
}

qint64 DirectoryWalker::directorySize(const FilePath& root, const AppSettings& settings, int maxDepth,
                                      WalkExclusionMode mode) const
{
    auto sizing = std::make_shared<ParallelSizing>(*m_fs, settings, mode, maxDepth);
    const QByteArray& rootPath = root.native();
    if (sizing->exclusion().excludes(rootPath) || maxDepth < 0) {
        return 0;
    }
    FileStat st;
    if (!m_fs->stat(rootPath, true, &st)) {
        return 0;
    }
    if (!st.isDirectory) {
        return fileSize(root);
    }
    if (maxDepth == 0) {
        return 0;
    }
    const int fd = m_fs->openDirectory(FileSystem::CurrentDirectory, rootPath.constData(), rootPath);
    if (fd < 0) {
        return 0;
    }
    sizing->push(ParallelSizing::Job{fd, rootPath, 0});
    // The helpers keep the shared state alive; one that starts after the work
    // is done finds nothing to do and leaves at once.
    const FileSystemPtr keepFs = m_fs;
    for (int i = 1; i < m_sizingThreads; ++i) {
        m_pool->start([sizing, keepFs] { sizing->work(); });
    }
    sizing->work();
    return sizing->total();
}

qint64 DirectoryWalker::fileSize(const FilePath& path) const
{
    FileStat st;
    if (!m_fs->stat(path.native(), false, &st)) {
        return 0;
    }
    return sizeFromStat(st);
}

qint64 DirectoryWalker::fileSize(const WalkEntry& entry) const
{
    FileStat st;
    if (!m_fs->statAt(entry.parentFd, entry.name, entry.path, false, &st)) {
        return 0;
    }
    return sizeFromStat(st);
}

bool DirectoryWalker::isDirectory(const FilePath& path) const
{
    FileStat st;
    return m_fs->stat(path.native(), false, &st) && st.isDirectory;
}
