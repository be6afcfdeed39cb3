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
// - failStat: examining this path fails (ENOENT);
// - setSizes: this path reports the given allocated and logical size, so that
//   tests can have gigabyte folders without writing gigabytes;
// - onOpen: called with each folder path before it is opened (for instance
//   to delete something mid-walk).
// Safe to use from several threads.
class FaultInjectingFileSystem : public FileSystem
{
public:
    FaultInjectingFileSystem();

    void failOpen(const QByteArray& path);
    void failRead(const QByteArray& path);
    void failStat(const QByteArray& path);
    void setSizes(const QByteArray& path, qint64 allocated, qint64 logical);
    void setAllocatedSize(const QByteArray& path, qint64 bytes) { setSizes(path, bytes, bytes); }
    void setOnOpen(std::function<void(const QByteArray&)> hook);

    int openCount() const { return m_opens.load(); }
    int maxOpenDescriptors() const { return m_maxOpen.load(); }
    int openDescriptors() const { return m_currentOpen.load(); }

    bool stat(const QByteArray& path, bool followLinks, FileStat* out) const override;
    bool statAt(int dirFd, const char* name, const QByteArray& fullPath, bool followLinks,
                FileStat* out) const override;
    int openDirectory(int dirFd, const char* name, const QByteArray& fullPath) const override;
    bool readDirectory(int fd, const QByteArray& fullPath, DirectoryNames* out) const override;
    void closeDirectory(int fd) const override;

private:
    bool applyStat(const QByteArray& path, bool ok, FileStat* out) const;

    FileSystemPtr m_real;
    mutable QMutex m_mutex;
    QSet<QByteArray> m_failOpen;
    QSet<QByteArray> m_failRead;
    QSet<QByteArray> m_failStat;
    QHash<QByteArray, std::pair<qint64, qint64>> m_sizes;
    std::function<void(const QByteArray&)> m_onOpen;
    mutable std::atomic<int> m_opens{0};
    mutable std::atomic<int> m_currentOpen{0};
    mutable std::atomic<int> m_maxOpen{0};
};
