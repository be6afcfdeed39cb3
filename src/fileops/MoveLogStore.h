#pragma once

#include "ItemTransfer.h"
#include "MoveRecords.h"
#include "platform/DefaultsStore.h"

class MoveJournal;

// Keeps the last move (one batch) in the defaults store and undoes it.
class MoveLogStore
{
public:
    // roots: the home and the cache folder; the archive folders of a batch
    // are added when it is undone, so that both ends of every move back are
    // opened without following links (see ItemTransfer).
    MoveLogStore(QString key, DefaultsStorePtr defaults, FileSystemPtr fileSystem, TrustedRoots roots = {});

    // Replaces the stored batch; false (and the old one kept) when it cannot
    // be written.
    bool save(const MoveBatch& batch) const;
    bool clear() const;
    // Nothing when there is none or it does not decode.
    std::optional<MoveBatch> loadLastBatch() const;

    // Moves the batch's items back, last moved first, never overwriting.
    // Clears the stored batch unless nothing came back and something failed.
    // With a journal, each item is journaled before and after it moves and
    // the log keeps the items not yet back, so that a kill loses nothing (see
    // MoveJournal); a journal that cannot be written stops the undo there
    // (MoveResult::journalError) and the log keeps what is still archived.
    // Blocks for as long as the moves take (copies across volumes): call it
    // off the main thread.
    MoveResult undo(const MoveBatch& batch, MoveJournal* journal = nullptr) const;

    const QString& key() const { return m_key; }

private:
    QString m_key;
    DefaultsStorePtr m_defaults;
    FileSystemPtr m_fs;
    TrustedRoots m_roots;
};
