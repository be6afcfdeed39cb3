#pragma once

#include "DefaultsStore.h"

#include <QMutex>

// A defaults store that keeps each key in a file of its own, "<key>.json" in
// one folder, holding the value's bytes as they are. For the large records
// that change often (the queues of undelivered usage events): a change
// rewrites that record alone, not the whole settings file with every value
// escaped, and appendLine adds to the end of the file without reading it.
//
// A change replaces the file atomically (a temporary file in the same folder,
// renamed over it), so a reader or a crash at any moment sees the old value
// or the new one, never a mixture; an appended line may be seen cut off
// while it is written, or after a crash, and only the line itself. With
// Sync::data the new bytes are on disk before the call returns (before the
// rename for a replacement); with Sync::none the kernel writes them back
// later, which costs no wait but may lose the latest change in a power cut
// (the old value then remains).
//
// Changes, appends included, hold a lock on the folder (flock), so that an
// update by one process never drops a line another process appended
// meanwhile; readers take none. The folder is made, private, on the first
// change. Keys that are not plain file names are refused.
class FolderDefaultsStore : public DefaultsStore
{
public:
    enum class Sync { data, none };

    FolderDefaultsStore(QString folder, Sync sync);

    std::optional<QByteArray> data(const QString& key) const override;
    bool setData(const QString& key, const QByteArray& value) override;
    bool remove(const QString& key) override;
    bool update(const QString& key, const Change& change) override;
    qint64 appendLine(const QString& key, const QByteArray& line) override;
    // flock on ".<name>.claim" in the folder, taken without waiting.
    std::shared_ptr<void> tryClaim(const QString& name) override;

    const QString& folder() const { return m_folder; }

private:
    class FolderLock;

    // Empty for a key that would name anything but a file of this folder.
    QByteArray pathOf(const QString& key) const;
    // Under the lock.
    bool replace(const QString& key, const QByteArray& path, const QByteArray& value);

    const QString m_folder;
    const Sync m_sync;
    // Changes of one object are made one at a time also where the file
    // system has no flock.
    QMutex m_mutex;
};
