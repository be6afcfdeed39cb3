#pragma once

#include "platform/TrustedRoots.h"

#include "ItemTransfer.h"
#include "MoveRecords.h"
#include "platform/Clock.h"
#include "scan/ScanItem.h"

#include <QFuture>

#include <functional>

class MoveJournal;

// (items processed so far, total)
using MoveProgressHandler = std::function<void(qint64, qint64)>;
// Asked before each item; true stops the batch there.
using MoveStopRequest = std::function<bool()>;

// Moves scan results into the archive folder under collision-free names,
// refusing the categories that must never be moved. Every failure becomes one
// message in the result; nothing is ever overwritten, and an item is either
// at its source or complete in the archive (see ItemTransfer).
class FileMover
{
public:
    // roots: the home (and the cache folder), from which sources are opened
    // without following links (see ItemTransfer).
    FileMover(FileSystemPtr fileSystem, ClockPtr clock, TrustedRoots roots = {});

    // Runs the move on a worker thread. onProgress is called on that thread,
    // once per item before it is processed; it must not block.
    QFuture<MoveResult> moveToArchive(const ScanItemList& items, const FilePath& archiveFolder,
                                      MoveProgressHandler onProgress) const;
    // The same, on the calling thread. With a journal, the batch is written
    // there item by item (and thereby into the move log); a journal that
    // cannot be written stops the batch before the next item. stop is asked
    // before each item: a stopped batch keeps what moved, recorded.
    MoveResult moveNow(const ScanItemList& items, const FilePath& archiveFolder,
                       const MoveProgressHandler& onProgress, MoveJournal* journal = nullptr,
                       const MoveStopRequest& stop = {}) const;

    // archive/name; if taken, base__parent.ext; then base__parent_2.ext, _3, …
    FilePath uniqueDestination(const ScanItem& item, const FilePath& archiveFolder) const;

    const ItemTransfer& transfer() const { return m_transfer; }
    const FileSystemPtr& fileSystem() const { return m_fs; }

private:
    bool exists(const FilePath& path) const;

    FileSystemPtr m_fs;
    ClockPtr m_clock;
    ItemTransfer m_transfer;
};
