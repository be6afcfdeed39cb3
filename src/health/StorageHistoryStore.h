#pragma once

#include "StorageHistory.h"
#include "platform/Clock.h"
#include "platform/DefaultsStore.h"

// The persisted history of freed space, newest first, capped at maxEvents.
// Used from the main thread only.
class StorageHistoryStore
{
public:
    StorageHistoryStore(QString key, int maxEvents, DefaultsStorePtr defaults, ClockPtr clock);

    // Empty when there is no entry or it does not decode.
    QList<StorageEvent> load() const;
    void record(qint64 bytesFreed, const QString& action, qint64 itemCount) const;
    StorageStats stats() const;

private:
    QString m_key;
    int m_maxEvents;
    DefaultsStorePtr m_defaults;
    ClockPtr m_clock;
};
