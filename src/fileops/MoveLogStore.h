#pragma once

#include "ItemTransfer.h"
#include "MoveRecords.h"
#include "platform/DefaultsStore.h"

// Keeps the last move (one batch) in the defaults store and undoes it.
class MoveLogStore
{
public:
    MoveLogStore(QString key, DefaultsStorePtr defaults, FileSystemPtr fileSystem);

    // Replaces the stored batch; false (and the old one kept) when it cannot
    // be written.
    bool save(const MoveBatch& batch) const;
    // Nothing when there is none or it does not decode.
    std::optional<MoveBatch> loadLastBatch() const;

    // Moves the batch's items back, last moved first, never overwriting.
    // Clears the stored batch unless nothing came back and something failed.
    // Blocks for as long as the moves take (copies across volumes): call it
    // off the main thread.
    MoveResult undo(const MoveBatch& batch) const;

    const QString& key() const { return m_key; }

private:
    QString m_key;
    DefaultsStorePtr m_defaults;
    FileSystemPtr m_fs;
    ItemTransfer m_transfer;
};
