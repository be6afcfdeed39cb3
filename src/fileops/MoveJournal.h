#pragma once

#include "platform/TrustedRoots.h"

#include "MoveLogStore.h"
#include "MoveRecovery.h"
#include "platform/Clock.h"

#include <QHash>
#include <QList>

#include <optional>

// The crash-safe record of one move batch, or of the undo of one: the batch
// is the journal.
//
// A file beside the defaults store gets one line per step, each flushed to
// the disk (file and folder) before the step it announces: the batch's start,
// for every item its intent (source, destination) before anything of it
// moves, and its completion after it moved. After every completed item the
// batch so far also replaces the move log, so that undo sees exactly what
// moved. A batch that ends normally removes the file.
//
// A file still there at the next start belongs to a process that was killed;
// recover() finishes it: completed items go to the move log; an item caught
// while its source was being removed (its verified copy already in place)
// has the removal finished and is recorded; an item caught mid-copy keeps its
// source and loses the partial copy.
//
// An undo is journaled the same way, item by item, and after each item that
// came back the move log holds the batch without it. recover() finishes an
// interrupted undo alike: an item whose verified copy is already back home
// has its archive copy removed, an item caught mid-copy stays in the archive,
// and the log keeps exactly the items still in the archive, so that the next
// undo returns the rest.
//
// One batch at a time, from one thread; the writer lock keeps other
// processes out.
class MoveJournal
{
public:
    // storeName names the store in messages.
    MoveJournal(FilePath file, FileSystemPtr fileSystem, MoveLogStore log, ClockPtr clock, TrustedRoots roots,
                QString storeName);
    ~MoveJournal();
    MoveJournal(const MoveJournal&) = delete;
    MoveJournal& operator=(const MoveJournal&) = delete;

    // Starts a batch with a fresh id. Refused while an unfinished batch is on
    // disk (recover() first). False with a message naming the store.
    bool begin(QString* error);
    // Starts the undo of batch (the one the move log holds), on the same terms.
    bool beginUndo(const MoveBatch& batch, QString* error);
    bool intend(const MoveRecord& record, QString* error);
    // Notes the item as moved and stores the batch so far in the move log;
    // in an undo, stores the batch without the item that came back.
    bool complete(const MoveRecord& record, QString* error);
    // Ends the batch normally: the journal file goes.
    void end();

    const QUuid& batchId() const { return m_batchId; }

    // Finishes what a killed process left (see above) and removes, in the
    // folders its items touched and in extraFolders, the hidden partial
    // copies (".brisko-partial-…", ".brisko-restore-…") of processes that
    // are gone. Call it with the writer lock held.
    MoveRecovery recover(const QList<FilePath>& extraFolders) const;

    const FilePath& file() const { return m_file; }

private:
    bool start(const QJsonObject& head, QString* error);
    bool append(const QByteArray& line, QString* error);
    enum class Settled { atTarget, atSource, bothKept, nowhere };
    // Where an item caught mid-transfer is, the removal of a source whose
    // verified copy is at the target finished.
    Settled settle(const FilePath& source, const FilePath& target, MoveRecovery* recovery) const;
    // False when the move log could not be written.
    bool recoverMove(const QList<MoveRecord>& intents, const QHash<QUuid, double>& done, MoveRecovery* recovery) const;
    bool recoverUndo(const QUuid& undoneBatch, const QList<MoveRecord>& intents, const QHash<QUuid, double>& done,
                     MoveRecovery* recovery) const;
    QString failure(int errnoValue) const;
    int syncFolder() const;
    double now() const;

    FilePath m_file;
    FileSystemPtr m_fs;
    MoveLogStore m_log;
    ClockPtr m_clock;
    TrustedRoots m_roots;
    QString m_storeName;
    int m_fd = -1;
    QUuid m_batchId;
    QList<MoveRecord> m_records;
    // Set while the journal records an undo: the records still in the archive.
    std::optional<MoveBatch> m_undoing;
};
