#pragma once

#include "platform/FileSystem.h"

#include <QHash>
#include <QMutex>
#include <QSet>

#include <atomic>
#include <functional>

// The real file system with faults on demand, decided by path:
// - failOpen: opening this folder fails (EACCES), as for an unreadable folder;
// - failRead: reading this folder's entries fails (EIO), as for one that
//   vanishes or breaks mid-walk;
// - denyWrite: this path answers the access check as not writable (tests
//   may run as root, for whom every permission check passes);
// - setSizes: this path reports the given allocated and logical size, so that
//   tests can have gigabyte folders without writing gigabytes;
// - onOpen: called with each folder path before it is opened (for instance
//   to delete something mid-walk).
// Safe to use from several threads.
class FaultInjectingFileSystem : public FileSystem
{
public:
    FaultInjectingFileSystem();

    void failOpen(const QByteArray& path) { insert(m_failOpen, path); }
    void failRead(const QByteArray& path) { insert(m_failRead, path); }
    void denyWrite(const QByteArray& path) { insert(m_denyWrite, path); }
    // Answers as a pseudo file system for the folder at this path.
    void pretendPseudo(const QByteArray& path) { insert(m_pseudo, path); }
    void setSizes(const QByteArray& path, qint64 allocated, qint64 logical);
    void setAllocatedSize(const QByteArray& path, qint64 bytes) { setSizes(path, bytes, bytes); }
    void setOnOpen(std::function<void(const QByteArray&)> hook);

    // Fails the nth (counted from 1) of the operations that read, write,
    // flush, rename, create or remove (every call below the directory
    // listing primitives) with errnoValue; 0 disarms. operationCount() tells
    // how many such operations ran, so a test can put the fault at every
    // position of a run.
    void failOperation(int nth, int errnoValue);
    // Fails every such operation from now on, without running it: a test
    // that hands a path it must never change (the real root, ..) to code
    // that should refuse it stays harmless if the refusal ever breaks.
    void failEveryOperation(int errnoValue)
    {
        failOperation(1, errnoValue);
        m_failEvery = true;
    }
    int operationCount() const { return m_operations.load(); }
    // Runs in place of the failing operation when the fault fires, before
    // the error is returned (a crash test ends the process here). Set it
    // before the file system is in use.
    void setOnFault(std::function<void()> hook) { m_onFault = std::move(hook); }
    void resetOperationCount() { m_operations = 0; }
    bool faultFired() const { return m_fired.load(); }

    // Pretends that everything below prefix lies on another volume: a rename
    // between inside and outside fails with EXDEV, as between two disks.
    void setVolumeBoundary(const QByteArray& prefix);

    int openCount() const { return m_opens.load(); }
    int maxOpenDescriptors() const { return m_maxOpen.load(); }
    int openDescriptors() const { return m_currentOpen.load(); }

    bool stat(const QByteArray& path, bool followLinks, FileStat* out) const override
    {
        return applyStat(path, m_real->stat(path, followLinks, out), out);
    }
    bool statAt(int dirFd, const char* name, const QByteArray& fullPath, bool followLinks,
                FileStat* out) const override
    {
        return applyStat(fullPath, m_real->statAt(dirFd, name, fullPath, followLinks, out), out);
    }
    int openDirectory(int dirFd, const char* name, const QByteArray& fullPath) const override;
    bool readDirectory(int fd, const QByteArray& fullPath, DirectoryNames* out) const override;
    void closeDirectory(int fd) const override
    {
        --m_currentOpen;
        m_real->closeDirectory(fd);
    }

    int openDirectoryNoFollow(int dirFd, const char* name, const QByteArray& fullPath, int* fd) const override;
    int makeDirectoryAt(int dirFd, const char* name, const QByteArray& fullPath, unsigned mode) const override
    {
        return guarded([&] { return m_real->makeDirectoryAt(dirFd, name, fullPath, mode); });
    }
    int renameAt(int fromDirFd, const char* fromName, const QByteArray& fromPath, int toDirFd, const char* toName,
                 const QByteArray& toPath, bool noReplace) const override;
    int removeAt(int dirFd, const char* name, const QByteArray& fullPath, bool directory) const override
    {
        return guarded([&] { return m_real->removeAt(dirFd, name, fullPath, directory); });
    }
    int symlinkAt(const QByteArray& target, int dirFd, const char* name, const QByteArray& fullPath) const override
    {
        return guarded([&] { return m_real->symlinkAt(target, dirFd, name, fullPath); });
    }
    int readLinkAt(int dirFd, const char* name, const QByteArray& fullPath, QByteArray* target) const override
    {
        return guarded([&] { return m_real->readLinkAt(dirFd, name, fullPath, target); });
    }
    int openFileAt(int dirFd, const char* name, const QByteArray& fullPath, int flags, unsigned mode,
                   int* fd) const override
    {
        *fd = -1;
        return guarded([&] { return m_real->openFileAt(dirFd, name, fullPath, flags, mode, fd); });
    }
    int copyFileData(int fromFd, int toFd, qint64 length, const QByteArray& fromPath,
                     const QByteArray& toPath) const override;
    int writeAll(int fd, const QByteArray& data, const QByteArray& fullPath) const override
    {
        return guarded([&] { return m_real->writeAll(fd, data, fullPath); });
    }
    int syncFileSystem(int fd, const QByteArray& fullPath) const override
    {
        return guarded([&] { return m_real->syncFileSystem(fd, fullPath); });
    }
    int syncFile(int fd, const QByteArray& fullPath) const override
    {
        return guarded([&] { return m_real->syncFile(fd, fullPath); });
    }
    QByteArray resolvedPath(const QByteArray& path) const override { return m_real->resolvedPath(path); }
    bool isPseudoFileSystem(int dirFd, const QByteArray& fullPath) const override
    {
        return contains(m_pseudo, fullPath) || m_real->isPseudoFileSystem(dirFd, fullPath);
    }
    int setAttributesAt(int dirFd, const char* name, const QByteArray& fullPath, int permissions, qint64 accessedNs,
                        qint64 modifiedNs) const override
    {
        return guarded([&] {
            return m_real->setAttributesAt(dirFd, name, fullPath, permissions, accessedNs, modifiedNs);
        });
    }
    void closeFile(int fd) const override { m_real->closeFile(fd); }
    bool isWritable(const QByteArray& path) const override
    {
        return !contains(m_denyWrite, path) && m_real->isWritable(path);
    }

private:
    void insert(QSet<QByteArray>& set, const QByteArray& path);
    bool contains(const QSet<QByteArray>& set, const QByteArray& path) const;
    bool applyStat(const QByteArray& path, bool ok, FileStat* out) const;
    // 0 to go ahead, or the errno to fail this operation with.
    int nextOperation() const;
    template<typename Operation>
    int guarded(Operation&& operation) const
    {
        const int error = nextOperation();
        return error ? error : operation();
    }

    FileSystemPtr m_real;
    mutable QMutex m_mutex;
    QSet<QByteArray> m_failOpen;
    QSet<QByteArray> m_failRead;
    QSet<QByteArray> m_denyWrite;
    QSet<QByteArray> m_pseudo;
    QHash<QByteArray, std::pair<qint64, qint64>> m_sizes;
    std::function<void(const QByteArray&)> m_onOpen;
    std::function<void()> m_onFault;
    QByteArray m_volumeBoundary;
    std::atomic<int> m_failAt{0};
    std::atomic<bool> m_failEvery{false};
    std::atomic<int> m_failErrno{0};
    mutable std::atomic<int> m_operations{0};
    mutable std::atomic<bool> m_fired{false};
    mutable std::atomic<int> m_opens{0};
    mutable std::atomic<int> m_currentOpen{0};
    mutable std::atomic<int> m_maxOpen{0};
};
