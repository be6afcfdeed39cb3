#pragma once

#include "DefaultsStore.h"

#include <QMap>
#include <QMutex>
#include <QWaitCondition>

#include <thread>

// A defaults store that takes a change at once and writes it to the store
// behind it on a thread of its own. Each write of a file store is a flushed
// replacement of the whole file; records made while the user works (error
// reports and the list of recent ones) would otherwise add that wait to the
// operation that raised them.
//
// Reads see this object's own changes at once, also while they are still
// being written. Changes to one key are written in the order made, and
// changes made while a write of the same key runs are combined into the
// next write. A change that the store behind refuses is dropped, as a failed
// write of that store would be: setData always answers true.
//
// Only for records that may be lost in a crash of the process: a change is
// on disk once waitForWrites() returns, or the object is destroyed (which
// waits). Safe to use from several threads.
class WriteBehindDefaultsStore : public DefaultsStore
{
public:
    explicit WriteBehindDefaultsStore(DefaultsStorePtr target);
    ~WriteBehindDefaultsStore() override;

    WriteBehindDefaultsStore(const WriteBehindDefaultsStore&) = delete;
    WriteBehindDefaultsStore& operator=(const WriteBehindDefaultsStore&) = delete;

    std::optional<QByteArray> data(const QString& key) const override;
    bool setData(const QString& key, const QByteArray& value) override;
    bool remove(const QString& key) override;

    // Returns when every change made so far is in the store behind (written
    // or refused there).
    void waitForWrites();

private:
    void change(const QString& key, std::optional<QByteArray> value);
    void writeNext(QMutexLocker<QMutex>& lock);
    void writeLoop();

    const DefaultsStorePtr m_target;
    mutable QMutex m_mutex;
    QWaitCondition m_changed;
    QWaitCondition m_written;
    // Changes not yet handed to the store behind; nullopt removes the key.
    QMap<QString, std::optional<QByteArray>> m_pending;
    // The change being written, readable until its write returns.
    QString m_writingKey;
    std::optional<QByteArray> m_writingValue;
    bool m_writing = false;
    bool m_stopping = false;
    std::thread m_writer;
};
