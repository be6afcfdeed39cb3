#pragma once

#include "platform/FileSystem.h"

#include <QByteArray>
#include <QList>

#include <array>
#include <atomic>
#include <chrono>

// A FileSystem that passes every call to another one and adds up, per
// primitive, how many calls were made and how long they took. It also splits
// a move across volumes into its phases by the calls that mark them (the
// first rename, the flush, the rename of the checked copy), so that the
// benchmark can say where the time goes without touching the mover.
class TimingFileSystem : public FileSystem
{
public:
    enum Primitive {
        stat_,
        statAt_,
        openDirectory_,
        readDirectory_,
        closeDirectory_,
        openDirectoryNoFollow_,
        makeDirectoryAt_,
        renameAt_,
        removeAt_,
        symlinkAt_,
        readLinkAt_,
        openFileAt_,
        copyFileData_,
        writeAll_,
        syncFileSystem_,
        syncFile_,
        setAttributesAt_,
        closeFile_,
        primitiveCount
    };
    // Phases of one item moved across volumes, in order.
    enum Phase { attempt, copy, flush, verify, finalRename, removeSource, phaseCount };

    struct Tally
    {
        std::atomic<qint64> calls{0};
        std::atomic<qint64> nanoseconds{0};
    };

    explicit TimingFileSystem(FileSystemPtr inner);

    static const char* primitiveName(int primitive);
    static const char* phaseName(int phase);
    const Tally& primitive(int p) const { return m_primitives[size_t(p)]; }
    // Wall time spent in each phase, from its first call to the first call of the next.
    qint64 phaseNanoseconds(int phase) const;
    // Mark the start of the move and the end of its last phase.
    void begin();
    void finish();

    bool stat(const QByteArray& path, bool followLinks, FileStat* out) const override;
    bool statAt(int dirFd, const char* name, const QByteArray& fullPath, bool followLinks,
                FileStat* out) const override;
    int openDirectory(int dirFd, const char* name, const QByteArray& fullPath) const override;
    bool readDirectory(int fd, const QByteArray& fullPath, DirectoryNames* out) const override;
    void closeDirectory(int fd) const override;
    int openDirectoryNoFollow(int dirFd, const char* name, const QByteArray& fullPath, int* fd) const override;
    int makeDirectoryAt(int dirFd, const char* name, const QByteArray& fullPath, unsigned mode) const override;
    int renameAt(int fromDirFd, const char* fromName, const QByteArray& fromPath, int toDirFd, const char* toName,
                 const QByteArray& toPath, bool noReplace) const override;
    int removeAt(int dirFd, const char* name, const QByteArray& fullPath, bool directory) const override;
    int symlinkAt(const QByteArray& target, int dirFd, const char* name, const QByteArray& fullPath) const override;
    int readLinkAt(int dirFd, const char* name, const QByteArray& fullPath, QByteArray* target) const override;
    int openFileAt(int dirFd, const char* name, const QByteArray& fullPath, int flags, unsigned mode,
                   int* fd) const override;
    int copyFileData(int fromFd, int toFd, qint64 length, const QByteArray& fromPath,
                     const QByteArray& toPath) const override;
    int writeAll(int fd, const QByteArray& data, const QByteArray& fullPath) const override;
    int syncFileSystem(int fd, const QByteArray& fullPath) const override;
    int setAttributesAt(int dirFd, const char* name, const QByteArray& fullPath, int permissions,
                        qint64 accessedNs, qint64 modifiedNs) const override;
    void closeFile(int fd) const override;
    int syncFile(int fd, const QByteArray& fullPath) const override;
    bool isWritable(const QByteArray& path) const override;
    QByteArray resolvedPath(const QByteArray& path) const override;
    bool isPseudoFileSystem(int dirFd, const QByteArray& fullPath) const override;

private:
    using Clock = std::chrono::steady_clock;

    template<typename Call>
    auto timed(Primitive primitive, Call call) const;
    void enterPhase(Phase phase) const;

    FileSystemPtr m_inner;
    mutable std::array<Tally, primitiveCount> m_primitives;
    mutable std::atomic<int> m_phase{attempt};
    mutable std::array<std::atomic<qint64>, phaseCount + 1> m_phaseStart{};
};
