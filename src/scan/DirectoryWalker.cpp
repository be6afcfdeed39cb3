#include "DirectoryWalker.h"

#include "model/AppSettings.h"

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <vector>

namespace {


// Resolves what a listed name is, with as few system calls as the kernel's
// type hint allows. False when the entry is gone or is a dangling link.
bool resolveKind(const FileSystem& fs, int dirFd, const char* name, const QByteArray& path,
                 DirectoryNames::Kind kind, bool* isDirectory, bool* isLink)
{
    *isLink = kind == DirectoryNames::Kind::Symlink;
    switch (kind) {
    case DirectoryNames::Kind::Directory:
        *isDirectory = true;
        return true;
    case DirectoryNames::Kind::Regular:
    case DirectoryNames::Kind::Other:
        *isDirectory = false;
        return true;
    case DirectoryNames::Kind::Unknown: {
        FileStat own;
        if (!fs.statAt(dirFd, name, path, false, &own)) {
            return false;
        }
        *isLink = own.isSymlink;
        if (!own.isSymlink) {
            *isDirectory = own.isDirectory;
            return true;
        }
        break;
    }
    case DirectoryNames::Kind::Symlink:
        break;
    }
    FileStat st;
    if (!fs.statAt(dirFd, name, path, true, &st)) {
        return false;
    }
    *isDirectory = st.isDirectory;
    return true;
}

// What one walk has counted, by device and inode, so that links and second
// names never count a folder (or a hard-linked file) twice and link cycles
// end at once; and the limits every walk keeps: no pseudo file system (proc,
// sysfs, …) is entered, and no link to a folder outside the boundary (the
// home) is followed. Shared by the threads of one sizing.
class WalkVisits
{
public:
    WalkVisits(const FileSystem& fs, const QByteArray& boundary)
        : m_fs(fs)
        , m_boundary(boundary.isEmpty() ? QByteArray() : fs.resolvedPath(boundary))
    {
    }

    // Whether the folder just opened as fd is to be entered; its device in
    // *device. parentDevice 0: not known (a root).
    bool enter(int fd, const QByteArray& path, quint64 parentDevice, quint64* device)
    {
        FileStat st;
        if (!m_fs.statAt(fd, ".", path, false, &st)) {
            return false;
        }
        *device = st.device;
        if (st.device != parentDevice && m_fs.isPseudoFileSystem(fd, path)) {
            return false;
        }
        std::lock_guard lock(m_mutex);
        return m_folders.insert({st.device, st.inode}).second;
    }

    // False for a further name of a hard-linked file already counted.
    bool count(const FileStat& st)
    {
        if (st.linkCount <= 1 || st.isDirectory) {
            return true;
        }
        std::lock_guard lock(m_mutex);
        return m_files.insert({st.device, st.inode}).second;
    }

    // Whether a link to a folder at path stays inside the boundary.
    bool follows(const QByteArray& path) const
    {
        if (m_boundary.isEmpty()) {
            return true;
        }
        const QByteArray target = m_fs.resolvedPath(path);
        return target == m_boundary || target.startsWith(m_boundary.endsWith('/') ? m_boundary : m_boundary + '/');
    }

private:
    const FileSystem& m_fs;
    const QByteArray m_boundary;
    std::mutex m_mutex;
    std::set<std::pair<quint64, quint64>> m_folders;
    std::set<std::pair<quint64, quint64>> m_files;
};

// The sequential walk. One listing buffer per depth level is reused, so memory
// follows the depth and the widest folder, not the number of entries.
class SequentialWalk
{
public:
    SequentialWalk(const FileSystem& fs, const WalkExclusion& exclusion, int maxDepth, const WalkHandler& handler,
                   WalkVisits& visits)
        : m_fs(fs)
        , m_exclusion(exclusion)
        , m_maxDepth(maxDepth)
        , m_handler(handler)
        , m_visits(visits)
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
        if (!st.isDirectory || depth >= m_maxDepth) {
            m_handler(WalkEntry{m_path, st.isDirectory, FileSystem::CurrentDirectory, root.constData()});
            return;
        }
        const int fd = m_fs.openDirectory(FileSystem::CurrentDirectory, root.constData(), root);
        if (fd < 0) {
            m_handler(WalkEntry{m_path, true, FileSystem::CurrentDirectory, root.constData()});
            return;
        }
        quint64 device = 0;
        if (m_visits.enter(fd, root, 0, &device)) {
            m_handler(WalkEntry{m_path, true, FileSystem::CurrentDirectory, root.constData()});
            m_levels.resize(size_t(m_maxDepth - depth) + 1);
            walkChildren(fd, device, depth + 1, 0);
        }
        m_fs.closeDirectory(fd);
    }

private:
    void walkChildren(int fd, quint64 device, int depth, size_t level)
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
            bool isLink = false;
            if (!resolveKind(m_fs, fd, name, m_path, n.kind, &isDirectory, &isLink)) {
                continue;
            }
            if (isDirectory && isLink && !m_visits.follows(m_path)) {
                continue;
            }
            if (!isDirectory || depth >= m_maxDepth) {
                m_handler(WalkEntry{m_path, isDirectory, fd, name});
                continue;
            }
            const int child = m_fs.openDirectory(fd, name, m_path);
            if (child < 0) {
                m_handler(WalkEntry{m_path, true, fd, name});
                continue;
            }
            quint64 childDevice = 0;
            if (m_visits.enter(child, m_path, device, &childDevice)) {
                m_handler(WalkEntry{m_path, true, fd, name});
                walkChildren(child, childDevice, depth + 1, level + 1);
            }
            m_fs.closeDirectory(child);
        }
        m_path.truncate(parentLength);
    }

    const FileSystem& m_fs;
    const WalkExclusion& m_exclusion;
    const int m_maxDepth;
    const WalkHandler& m_handler;
    WalkVisits& m_visits;
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
        quint64 device;
    };

    ParallelSizing(const FileSystem& fs, const AppSettings& settings, WalkExclusionMode mode, int maxDepth,
                   const QByteArray& boundary)
        : m_fs(fs)
        , m_exclusion(settings, mode)
        , m_maxDepth(maxDepth)
        , m_visits(fs, boundary)
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
            sizeChildren(job.fd, job.device, job.path, job.depth + 1, levels, 0, &subtotal);
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
    WalkVisits& visits() { return m_visits; }

private:
    bool wantsWork()
    {
        // Unlocked peek: a stale answer only changes who walks a folder. Jobs
        // are handed out only to workers that wait for one, so the queue (and
        // the descriptors it holds open) stays as small as the thread count.
        return m_waiting.load(std::memory_order_relaxed) > m_queued.load(std::memory_order_relaxed);
    }

    void sizeChildren(int fd, quint64 device, QByteArray& path, int depth, std::vector<DirectoryNames>& levels,
                      size_t level, qint64* subtotal)
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
            bool isLink = false;
            if (!resolveKind(m_fs, fd, name, path, n.kind, &isDirectory, &isLink)) {
                continue;
            }
            if (!isDirectory) {
                FileStat st;
                if (m_fs.statAt(fd, name, path, false, &st) && m_visits.count(st)) {
                    *subtotal += st.space();
                }
                continue;
            }
            if (depth >= m_maxDepth || (isLink && !m_visits.follows(path))) {
                continue;
            }
            const int child = m_fs.openDirectory(fd, name, path);
            if (child < 0) {
                continue;
            }
            quint64 childDevice = 0;
            if (!m_visits.enter(child, path, device, &childDevice)) {
                m_fs.closeDirectory(child);
                continue;
            }
            if (wantsWork()) {
                push(Job{child, path, depth, childDevice});
                continue;
            }
            sizeChildren(child, childDevice, path, depth + 1, levels, level + 1, subtotal);
            m_fs.closeDirectory(child);
        }
        path.truncate(parentLength);
    }

    const FileSystem& m_fs;
    const WalkExclusion m_exclusion;
    const int m_maxDepth;
    WalkVisits m_visits;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    int m_active = 0;
    std::atomic<int> m_waiting{0};
    std::atomic<int> m_queued{0};
    std::atomic<qint64> m_total{0};
};

} // namespace

DirectoryWalker::DirectoryWalker(FileSystemPtr fileSystem, int sizingThreads, FilePath boundary)
    : m_fs(std::move(fileSystem))
    , m_boundary(std::move(boundary))
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
    WalkVisits visits(*m_fs, m_boundary.native());
    SequentialWalk(*m_fs, exclusion, maxDepth, handler, visits).run(root.native(), depth);
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
    auto sizing = std::make_shared<ParallelSizing>(*m_fs, settings, mode, maxDepth, m_boundary.native());
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
    quint64 device = 0;
    if (!sizing->visits().enter(fd, rootPath, 0, &device)) {
        m_fs->closeDirectory(fd);
        return 0;
    }
    sizing->push(ParallelSizing::Job{fd, rootPath, 0, device});
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
    return st.space();
}

qint64 DirectoryWalker::fileSize(const WalkEntry& entry) const
{
    FileStat st;
    if (!m_fs->statAt(entry.parentFd, entry.name, entry.path, false, &st)) {
        return 0;
    }
    return st.space();
}

bool DirectoryWalker::isDirectory(const FilePath& path) const
{
    FileStat st;
    return m_fs->stat(path.native(), false, &st) && st.isDirectory;
}
