#include "CleanArchiveCopier.h"

#include "CleanArchiveDigest.h"
#include "base/DescriptorReader.h"
#include "base/Sha256.h"
#include "fileops/ItemTransfer.h"
#include "fileops/TreeRemover.h"
#include "platform/ScopedDirectory.h"

#include <QList>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <fcntl.h>

namespace {

constexpr qsizetype bufferSize = 1 << 20;


int lastErrno()
{
    return errno ? errno : EIO;
}

// Closes a descriptor opened through the FileSystem when it goes out of scope.
class FileDescriptor
{
public:
    explicit FileDescriptor(const FileSystem& fs)
        : m_fs(fs)
    {
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0) {
            m_fs.closeFile(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int* receive() { return &m_fd; }
    int get() const { return m_fd; }

private:
    const FileSystem& m_fs;
    int m_fd = -1;
};

} // namespace

struct CleanArchiveCopier::FileJob
{
    Folder from;
    Folder to;
    QByteArray name;
    QByteArray fromPath;
    QByteArray toPath;
    QByteArray relative;
    FileStat st;
};

// One copy: its result and, with digests on, the helper thread and the
// queue of files waiting for it. The mutex guards everything that both
// threads touch.
struct CleanArchiveCopier::Run
{
    // Files queued beyond this are copied by the walking thread itself, so
    // that the descriptors the queue holds stay few.
    static constexpr std::size_t maxQueued = 16;

    struct FolderAttributes
    {
        QByteArray path;
        int permissions;
        qint64 accessedNs;
        qint64 modifiedNs;
    };

    // parallel: files are shared out to a helper thread.
    Run(const CleanArchiveCopier& copier, const Options& options, Result* result, bool parallel)
        : copier(copier)
        , options(options)
        , result(result)
        , parallel(parallel)
    {
        walkerBuffer.resize(bufferSize);
        if (parallel) {
            helper = std::thread([this] { serve(); });
        }
    }

    ~Run() { finish(); }

    int fail(int error, const QByteArray& path)
    {
        std::lock_guard lock(mutex);
        if (!result->error) {
            result->error = error;
            result->failedPath = FilePath(path);
        }
        return error;
    }

    int error()
    {
        std::lock_guard lock(mutex);
        return result->error;
    }

    void add(qint64 size, QByteArray line)
    {
        std::lock_guard lock(mutex);
        bytes += size;
        if (!line.isNull()) {
            lines.append(std::move(line));
        }
    }

    void submit(FileJob job)
    {
        std::unique_lock lock(mutex);
        if (result->error) {
            return;
        }
        if (queue.size() >= maxQueued) {
            lock.unlock();
            copier.runJob(job, &walkerBuffer, this);
            return;
        }
        queue.push_back(std::move(job));
        wake.notify_one();
    }

    // Copies what is still queued, then lets the helper go.
    void finish()
    {
        if (!parallel) {
            return;
        }
        for (;;) {
            std::unique_lock lock(mutex);
            if (queue.empty()) {
                closing = true;
                wake.notify_all();
                break;
            }
            FileJob job = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            copier.runJob(job, &walkerBuffer, this);
        }
        if (helper.joinable()) {
            helper.join();
        }
        parallel = false;
    }

    void serve()
    {
        QByteArray buffer(bufferSize, Qt::Uninitialized);
        for (;;) {
            std::unique_lock lock(mutex);
            wake.wait(lock, [this] { return closing || !queue.empty(); });
            if (queue.empty()) {
                break;
            }
            FileJob job = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            copier.runJob(job, &buffer, this);
        }
        Sha256::releaseThreadState();
    }

    const CleanArchiveCopier& copier;
    const Options& options;
    Result* result;
    bool parallel;
    QByteArray walkerBuffer;
    // Set last, once every file in them is written (walking thread only).
    QList<FolderAttributes> folders;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<FileJob> queue;
    bool closing = false;
    QList<QByteArray> lines;
    qint64 bytes = 0;
    std::thread helper;
};

QString CleanArchiveCopier::Result::message() const
{
    if (!error) {
        return {};
    }
    return ItemTransfer::describe(error) + QStringLiteral(" (") + failedPath.toString() + QStringLiteral(")");
}

CleanArchiveCopier::CleanArchiveCopier(FileSystemPtr fileSystem)
    : m_fs(std::move(fileSystem))
{
}

CleanArchiveCopier::Result CleanArchiveCopier::copy(const FilePath& source, const FilePath& target,
                                                    const Options& options) const
{
    Result result;
    const FilePath targetFolder = target.parent();
    const QByteArray targetName = target.fileNameNative();
    const auto failed = [&](int error, const QByteArray& path) {
        result.error = error;
        result.failedPath = FilePath(path);
        return result;
    };
    const Folder targetParent = std::make_shared<ScopedDirectory>(
        *m_fs,
        m_fs->openDirectory(FileSystem::CurrentDirectory, targetFolder.native().constData(), targetFolder.native()));
    if (!targetParent->isOpen()) {
        return failed(lastErrno(), targetFolder.native());
    }
    FileStat st;
    if (!m_fs->stat(source.native(), options.followSourceRoot, &st)) {
        return failed(lastErrno(), source.native());
    }

    if (st.isDirectory) {
        result.isDirectory = true;
        const Folder from = std::make_shared<ScopedDirectory>(*m_fs);
        if (options.followSourceRoot) {
            from->reset(
                m_fs->openDirectory(FileSystem::CurrentDirectory, source.native().constData(), source.native()));
            if (!from->isOpen()) {
                return failed(lastErrno(), source.native());
            }
        } else if (const int error = m_fs->openDirectoryNoFollow(
                       FileSystem::CurrentDirectory, source.native().constData(), source.native(), from->receive())) {
            return failed(error, source.native());
        }
        if (const int error =
                m_fs->makeDirectoryAt(targetParent->get(), targetName.constData(), target.native(), 0700)) {
            return failed(error, target.native());
        }
        const Folder to = std::make_shared<ScopedDirectory>(*m_fs);
        if (const int error = m_fs->openDirectoryNoFollow(targetParent->get(), targetName.constData(), target.native(),
                                                          to->receive())) {
            return failed(error, target.native());
        }
        // Digests are the larger part of the work: share the files out.
        Run run(*this, options, &result, options.digest);
        copyContents(from, source.native(), to, target.native(), QByteArray(), &run);
        run.finish();
        if (result.error) {
            return result;
        }
        // Last, so that filling the folders does not change their times.
        for (const Run::FolderAttributes& folder : std::as_const(run.folders)) {
            if (const int error =
                    m_fs->setAttributesAt(FileSystem::CurrentDirectory, folder.path.constData(), folder.path,
                                          folder.permissions, folder.accessedNs, folder.modifiedNs)) {
                return failed(error, folder.path);
            }
        }
        if (const int error =
                m_fs->setAttributesAt(targetParent->get(), targetName.constData(), target.native(),
                                      int(st.permissions & options.permissionMask), st.accessedNs, st.modifiedNs)) {
            return failed(error, target.native());
        }
        result.size = run.bytes;
        if (options.digest) {
            result.sha256 = CleanArchiveDigest::digestOfLines(std::move(run.lines));
        }
        return result;
    }

    // A single item. A link at the root is copied as the link it is unless
    // it may be followed and leads to a file.
    const FilePath sourceFolder = source.parent();
    const QByteArray sourceName = source.fileNameNative();
    const Folder sourceParent = std::make_shared<ScopedDirectory>(
        *m_fs,
        m_fs->openDirectory(FileSystem::CurrentDirectory, sourceFolder.native().constData(), sourceFolder.native()));
    if (!sourceParent->isOpen()) {
        return failed(lastErrno(), sourceFolder.native());
    }
    if (st.isRegular && options.followSourceRoot) {
        FileStat own;
        if (m_fs->statAt(sourceParent->get(), sourceName.constData(), source.native(), false, &own) && own.isSymlink) {
            // The file behind a link: read it by its resolved place.
            Options direct = options;
            direct.followSourceRoot = false;
            QByteArray resolved;
            if (const int error =
                    m_fs->readLinkAt(sourceParent->get(), sourceName.constData(), source.native(), &resolved)) {
                return failed(error, source.native());
            }
            const FilePath real = resolved.startsWith('/') ? FilePath(resolved) : sourceFolder.child(resolved);
            return copy(real, target, direct);
        }
    }
    Run run(*this, options, &result, false);
    if (st.isRegular && options.digest) {
        copyFile(sourceParent->get(), sourceName.constData(), source.native(), targetParent->get(),
                 targetName.constData(), target.native(), st, QByteArray(), &run.walkerBuffer, &run);
        if (result.error) {
            return result;
        }
        // The one line is "<TAB>digest" for the root file itself.
        const QByteArray& line = run.lines.first();
        result.sha256 = line.mid(line.indexOf('\t') + 1);
    } else if (copyEntry(sourceParent, sourceName.constData(), source.native(), targetParent, target.native(),
                         QByteArray(), &run)) {
        return result;
    }
    result.size = st.isRegular ? st.size : 0;
    return result;
}

int CleanArchiveCopier::copyContents(const Folder& from, const QByteArray& fromPath, const Folder& to,
                                     const QByteArray& toPath, const QByteArray& relative, Run* run) const
{
    DirectoryNames names;
    if (!m_fs->readDirectory(from->get(), fromPath, &names)) {
        return run->fail(lastErrno(), fromPath);
    }
    for (const DirectoryNames::Name& n : names.names) {
        const char* name = names.buffer.constData() + n.offset;
        const QByteArray childRelative = relative.isEmpty() ? QByteArray(name) : relative + '/' + name;
        if (const int error = copyEntry(from, name, FilePath::joined(fromPath, name), to,
                                        FilePath::joined(toPath, name), childRelative, run)) {
            return error;
        }
    }
    return 0;
}

int CleanArchiveCopier::copyEntry(const Folder& fromDir, const char* name, const QByteArray& fromPath,
                                  const Folder& toDir, const QByteArray& toPath, const QByteArray& relative,
                                  Run* run) const
{
    const QByteArray targetName = toPath.mid(toPath.lastIndexOf('/') + 1);
    FileStat st;
    if (!m_fs->statAt(fromDir->get(), name, fromPath, false, &st)) {
        return run->fail(lastErrno(), fromPath);
    }
    if (!relative.isEmpty() && run->options.skip && run->options.skip(QByteArray(name), st)) {
        return 0;
    }
    if (st.isSymlink) {
        QByteArray linkTarget;
        if (const int error = m_fs->readLinkAt(fromDir->get(), name, fromPath, &linkTarget)) {
            return run->fail(error, fromPath);
        }
        if (const int error = m_fs->symlinkAt(linkTarget, toDir->get(), targetName.constData(), toPath)) {
            return run->fail(error, toPath);
        }
        if (const int error =
                m_fs->setAttributesAt(toDir->get(), targetName.constData(), toPath, -1, st.accessedNs, st.modifiedNs)) {
            return run->fail(error, toPath);
        }
        FileStat copied;
        if (m_fs->statAt(toDir->get(), targetName.constData(), toPath, false, &copied)) {
            run->add(copied.space(), QByteArray());
        }
        return 0;
    }
    if (st.isRegular) {
        if (run->parallel) {
            run->submit(FileJob{fromDir, toDir, QByteArray(name), fromPath, toPath, relative, st});
            return run->error();
        }
        return copyFile(fromDir->get(), name, fromPath, toDir->get(), targetName.constData(), toPath, st, relative,
                        &run->walkerBuffer, run);
    }
    if (st.isDirectory) {
        if (relative.count('/') >= FileSystem::maxTreeDepth) {
            return run->fail(ENAMETOOLONG, fromPath);
        }
        if (const int error = m_fs->makeDirectoryAt(toDir->get(), targetName.constData(), toPath, 0700)) {
            return run->fail(error, toPath);
        }
        const Folder from = std::make_shared<ScopedDirectory>(*m_fs);
        if (const int error = m_fs->openDirectoryNoFollow(fromDir->get(), name, fromPath, from->receive())) {
            return run->fail(error, fromPath);
        }
        const Folder to = std::make_shared<ScopedDirectory>(*m_fs);
        if (const int error =
                m_fs->openDirectoryNoFollow(toDir->get(), targetName.constData(), toPath, to->receive())) {
            return run->fail(error, toPath);
        }
        if (const int error = copyContents(from, fromPath, to, toPath, relative, run)) {
            return error;
        }
        const int permissions = int(st.permissions & run->options.permissionMask);
        if (run->parallel) {
            // Files of this folder may still be on their way.
            run->folders.append({toPath, permissions, st.accessedNs, st.modifiedNs});
            return 0;
        }
        if (const int error = m_fs->setAttributesAt(toDir->get(), targetName.constData(), toPath, permissions,
                                                    st.accessedNs, st.modifiedNs)) {
            return run->fail(error, toPath);
        }
        return 0;
    }
    // Sockets, pipes and devices hold no data to copy.
    return run->fail(EOPNOTSUPP, fromPath);
}

void CleanArchiveCopier::runJob(const FileJob& job, QByteArray* buffer, Run* run) const
{
    if (run->error()) {
        return;
    }
    const QByteArray targetName = job.toPath.mid(job.toPath.lastIndexOf('/') + 1);
    copyFile(job.from->get(), job.name.constData(), job.fromPath, job.to->get(), targetName.constData(), job.toPath,
             job.st, job.relative, buffer, run);
}

int CleanArchiveCopier::copyFile(int fromDir, const char* fromName, const QByteArray& fromPath, int toDir,
                                 const char* toName, const QByteArray& toPath, const FileStat& st,
                                 const QByteArray& relative, QByteArray* buffer, Run* run) const
{
    FileDescriptor input(*m_fs);
    if (const int error = m_fs->openFileAt(fromDir, fromName, fromPath, O_RDONLY, 0, input.receive())) {
        return run->fail(error, fromPath);
    }
    FileDescriptor output(*m_fs);
    if (const int error =
            m_fs->openFileAt(toDir, toName, toPath, O_WRONLY | O_CREAT | O_EXCL, 0600, output.receive())) {
        return run->fail(error, toPath);
    }
    QByteArray line;
    if (run->options.digest) {
        // One pass: what is hashed is exactly what is written, read once.
        DescriptorReader reader(input.get());
        Sha256 hash;
        for (;;) {
            errno = 0;
            const qint64 n = reader.read(buffer->data(), buffer->size());
            if (n < 0) {
                return run->fail(lastErrno(), fromPath);
            }
            if (n == 0) {
                break;
            }
            hash.add(QByteArrayView(buffer->constData(), n));
            if (const int error =
                    m_fs->writeAll(output.get(), QByteArray::fromRawData(buffer->constData(), n), toPath)) {
                return run->fail(error, toPath);
            }
        }
        line = CleanArchiveDigest::line(relative, hash.hexDigest());
    } else if (const int error = m_fs->copyFileData(input.get(), output.get(), st.size, fromPath, toPath)) {
        return run->fail(error, toPath);
    }
    if (const int error = m_fs->setAttributesAt(
            toDir, toName, toPath, int(st.permissions & run->options.permissionMask), st.accessedNs, st.modifiedNs)) {
        return run->fail(error, toPath);
    }
    FileStat copied;
    run->add(m_fs->statAt(toDir, toName, toPath, false, &copied) ? copied.space() : 0, std::move(line));
    return 0;
}

int CleanArchiveCopier::removeTree(const FilePath& path) const
{
    FileStat st;
    if (!m_fs->stat(path.native(), false, &st)) {
        return 0;
    }
    if (st.isDirectory) {
        if ((st.permissions & 0700) != 0700) {
            m_fs->setAttributesAt(FileSystem::CurrentDirectory, path.native().constData(), path.native(),
                                  int(st.permissions | 0700), st.accessedNs, st.modifiedNs);
        }
        ScopedDirectory root(*m_fs);
        if (!m_fs->openDirectoryNoFollow(FileSystem::CurrentDirectory, path.native().constData(), path.native(),
                                         root.receive())) {
            makeWritable(root.get(), path.native());
        }
    }
    const TreeRemover::Result removed = TreeRemover(m_fs).remove(path);
    return removed.error == ENOENT && removed.failedPath == path ? 0 : removed.error;
}

int CleanArchiveCopier::makeWritable(int dirFd, const QByteArray& path, int depth) const
{
    if (depth >= FileSystem::maxTreeDepth) {
        return ENAMETOOLONG;
    }
    DirectoryNames names;
    if (!m_fs->readDirectory(dirFd, path, &names)) {
        return lastErrno();
    }
    for (const DirectoryNames::Name& n : names.names) {
        if (n.kind != DirectoryNames::Kind::Directory && n.kind != DirectoryNames::Kind::Unknown) {
            continue;
        }
        const char* name = names.buffer.constData() + n.offset;
        const QByteArray childPath = FilePath::joined(path, name);
        FileStat st;
        if (!m_fs->statAt(dirFd, name, childPath, false, &st) || !st.isDirectory) {
            continue;
        }
        if ((st.permissions & 0700) != 0700) {
            m_fs->setAttributesAt(dirFd, name, childPath, int(st.permissions | 0700), st.accessedNs, st.modifiedNs);
        }
        ScopedDirectory child(*m_fs);
        if (!m_fs->openDirectoryNoFollow(dirFd, name, childPath, child.receive())) {
            makeWritable(child.get(), childPath, depth + 1);
        }
    }
    return 0;
}
