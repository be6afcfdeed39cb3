#include "TimingFileSystem.h"

#include <cerrno>

namespace {

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

TimingFileSystem::TimingFileSystem(FileSystemPtr inner)
    : m_inner(std::move(inner))
{
    begin();
}

void TimingFileSystem::begin()
{
    for (auto& start : m_phaseStart) {
        start = -1;
    }
    m_phase = attempt;
    m_phaseStart[attempt] = nowNs();
}

const char* TimingFileSystem::primitiveName(int primitive)
{
    static const char* const names[] = {
        "stat", "statAt", "openDirectory", "readDirectory", "closeDirectory", "openDirectoryNoFollow",
        "makeDirectoryAt", "renameAt", "removeAt", "symlinkAt", "readLinkAt", "openFileAt", "copyFileData",
        "writeAll", "syncFileSystem", "syncFile", "setAttributesAt", "closeFile",
    };
    static_assert(sizeof names / sizeof names[0] == primitiveCount);
    return names[primitive];
}

const char* TimingFileSystem::phaseName(int phase)
{
    static const char* const names[] = {
        "checks and rename attempt", "copy", "flush (syncfs)", "verification walk", "rename into place",
        "removal of the source",
    };
    static_assert(sizeof names / sizeof names[0] == phaseCount);
    return names[phase];
}

qint64 TimingFileSystem::phaseNanoseconds(int phase) const
{
    const qint64 start = m_phaseStart[size_t(phase)];
    if (start < 0) {
        return 0;
    }
    for (size_t next = size_t(phase) + 1; next < m_phaseStart.size(); ++next) {
        if (m_phaseStart[next] >= 0) {
            return m_phaseStart[next] - start;
        }
    }
    return 0;
}

void TimingFileSystem::finish()
{
    m_phaseStart[phaseCount] = nowNs();
}

void TimingFileSystem::enterPhase(Phase phase) const
{
    int current = m_phase;
    if (current < phase && m_phase.compare_exchange_strong(current, phase)) {
        m_phaseStart[phase] = nowNs();
    }
}

template<typename Call>
auto TimingFileSystem::timed(Primitive primitive, Call call) const
{
    const qint64 start = nowNs();
    auto result = call();
    // Callers read errno after a failed call: the clock must not change it.
    const int savedErrno = errno;
    Tally& tally = m_primitives[primitive];
    tally.calls.fetch_add(1, std::memory_order_relaxed);
    tally.nanoseconds.fetch_add(nowNs() - start, std::memory_order_relaxed);
    errno = savedErrno;
    return result;
}

bool TimingFileSystem::stat(const QByteArray& path, bool followLinks, FileStat* out) const
{
    return timed(stat_, [&] { return m_inner->stat(path, followLinks, out); });
}

bool TimingFileSystem::statAt(int dirFd, const char* name, const QByteArray& fullPath, bool followLinks,
                              FileStat* out) const
{
    return timed(statAt_, [&] { return m_inner->statAt(dirFd, name, fullPath, followLinks, out); });
}

int TimingFileSystem::openDirectory(int dirFd, const char* name, const QByteArray& fullPath) const
{
    return timed(openDirectory_, [&] { return m_inner->openDirectory(dirFd, name, fullPath); });
}

bool TimingFileSystem::readDirectory(int fd, const QByteArray& fullPath, DirectoryNames* out) const
{
    return timed(readDirectory_, [&] { return m_inner->readDirectory(fd, fullPath, out); });
}

void TimingFileSystem::closeDirectory(int fd) const
{
    timed(closeDirectory_, [&] {
        m_inner->closeDirectory(fd);
        return 0;
    });
}

int TimingFileSystem::openDirectoryNoFollow(int dirFd, const char* name, const QByteArray& fullPath, int* fd) const
{
    return timed(openDirectoryNoFollow_, [&] { return m_inner->openDirectoryNoFollow(dirFd, name, fullPath, fd); });
}

int TimingFileSystem::makeDirectoryAt(int dirFd, const char* name, const QByteArray& fullPath, unsigned mode) const
{
    return timed(makeDirectoryAt_, [&] { return m_inner->makeDirectoryAt(dirFd, name, fullPath, mode); });
}

int TimingFileSystem::renameAt(int fromDirFd, const char* fromName, const QByteArray& fromPath, int toDirFd,
                               const char* toName, const QByteArray& toPath, bool noReplace) const
{
    // The first rename is the attempt that fails across volumes; the next
    // one puts the checked copy in place.
    if (m_phase == verify) {
        enterPhase(finalRename);
    }
    const int result = timed(renameAt_, [&] {
        return m_inner->renameAt(fromDirFd, fromName, fromPath, toDirFd, toName, toPath, noReplace);
    });
    if (m_phase == attempt) {
        enterPhase(copy);
    } else if (m_phase == finalRename) {
        enterPhase(removeSource);
    }
    return result;
}

int TimingFileSystem::removeAt(int dirFd, const char* name, const QByteArray& fullPath, bool directory) const
{
    return timed(removeAt_, [&] { return m_inner->removeAt(dirFd, name, fullPath, directory); });
}

int TimingFileSystem::symlinkAt(const QByteArray& target, int dirFd, const char* name,
                                const QByteArray& fullPath) const
{
    return timed(symlinkAt_, [&] { return m_inner->symlinkAt(target, dirFd, name, fullPath); });
}

int TimingFileSystem::readLinkAt(int dirFd, const char* name, const QByteArray& fullPath, QByteArray* target) const
{
    return timed(readLinkAt_, [&] { return m_inner->readLinkAt(dirFd, name, fullPath, target); });
}

int TimingFileSystem::openFileAt(int dirFd, const char* name, const QByteArray& fullPath, int flags, unsigned mode,
                                 int* fd) const
{
    return timed(openFileAt_, [&] { return m_inner->openFileAt(dirFd, name, fullPath, flags, mode, fd); });
}

int TimingFileSystem::copyFileData(int fromFd, int toFd, qint64 length, const QByteArray& fromPath,
                                   const QByteArray& toPath) const
{
    return timed(copyFileData_, [&] { return m_inner->copyFileData(fromFd, toFd, length, fromPath, toPath); });
}

int TimingFileSystem::writeAll(int fd, const QByteArray& data, const QByteArray& fullPath) const
{
    return timed(writeAll_, [&] { return m_inner->writeAll(fd, data, fullPath); });
}

int TimingFileSystem::syncFileSystem(int fd, const QByteArray& fullPath) const
{
    enterPhase(flush);
    const int result = timed(syncFileSystem_, [&] { return m_inner->syncFileSystem(fd, fullPath); });
    enterPhase(verify);
    return result;
}

int TimingFileSystem::setAttributesAt(int dirFd, const char* name, const QByteArray& fullPath, int permissions,
                                      qint64 accessedNs, qint64 modifiedNs) const
{
    return timed(setAttributesAt_,
                 [&] { return m_inner->setAttributesAt(dirFd, name, fullPath, permissions, accessedNs, modifiedNs); });
}

void TimingFileSystem::closeFile(int fd) const
{
    timed(closeFile_, [&] {
        m_inner->closeFile(fd);
        return 0;
    });
}

int TimingFileSystem::syncFile(int fd, const QByteArray& fullPath) const
{
    enterPhase(flush);
    return timed(syncFile_, [&] { return m_inner->syncFile(fd, fullPath); });
}

// Asked only by the settings screen; not part of a move, so not timed.
bool TimingFileSystem::isWritable(const QByteArray& path) const
{
    return m_inner->isWritable(path);
}

// Asked once per batch, before any item moves: not timed.
QByteArray TimingFileSystem::resolvedPath(const QByteArray& path) const
{
    return m_inner->resolvedPath(path);
}

bool TimingFileSystem::isPseudoFileSystem(int dirFd, const QByteArray& fullPath) const
{
    return m_inner->isPseudoFileSystem(dirFd, fullPath);
}
