#include "MoveJournal.h"

#include "ItemTransfer.h"
#include "TreeRemover.h"
#include "model/ReferenceDate.h"
#include "platform/ProcessTag.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QSet>

#include <cerrno>

#include <fcntl.h>

namespace {

const QByteArray restorePrefix = QByteArrayLiteral(".brisko-restore-");

bool exists(const FileSystem& fs, const FilePath& path)
{
    FileStat st;
    return fs.stat(path.native(), false, &st);
}

// Removes the scratch entries of dead processes from one folder.
qint64 sweepFolder(const FileSystemPtr& fileSystem, const FilePath& folder, QStringList* errors)
{
    const FileSystem& fs = *fileSystem;
    const int fd = fs.openDirectory(FileSystem::CurrentDirectory, folder.native().constData(), folder.native());
    if (fd < 0) {
        return 0;
    }
    DirectoryNames names;
    const bool read = fs.readDirectory(fd, folder.native(), &names);
    fs.closeDirectory(fd);
    if (!read) {
        return 0;
    }
    qint64 swept = 0;
    for (const DirectoryNames::Name& n : names.names) {
        const QByteArray name(names.buffer.constData() + n.offset, n.length);
        const QByteArray prefix = name.startsWith(ItemTransfer::partialPrefix) ? ItemTransfer::partialPrefix
            : name.startsWith(restorePrefix)                                  ? restorePrefix
                                                                               : QByteArray();
        if (prefix.isEmpty() || !ProcessTag::makerIsGone(name, prefix)) {
            continue;
        }
        const TreeRemover::Result removed = TreeRemover(fileSystem).remove(folder.child(name));
        if (removed.ok()) {
            ++swept;
        } else {
            errors->append(removed.failedPath.toString() + QStringLiteral(": ") + removed.message());
        }
    }
    return swept;
}

} // namespace

MoveJournal::MoveJournal(FilePath file, FileSystemPtr fileSystem, MoveLogStore log, ClockPtr clock, TrustedRoots roots,
                         QString storeName)
    : m_file(std::move(file))
    , m_fs(std::move(fileSystem))
    , m_log(std::move(log))
    , m_clock(std::move(clock))
    , m_roots(std::move(roots))
    , m_storeName(std::move(storeName))
{
}

MoveJournal::~MoveJournal()
{
    if (m_fd >= 0) {
        m_fs->closeFile(m_fd);
    }
}

QString MoveJournal::failure(int errnoValue) const
{
    return QStringLiteral("Не удалось записать журнал переноса (%1): %2 — перенос остановлен")
        .arg(m_storeName, ItemTransfer::describe(errnoValue));
}

double MoveJournal::now() const
{
    return ReferenceDate::fromDateTime(m_clock->now());
}

int MoveJournal::syncFolder() const
{
    const FilePath folder = m_file.parent();
    int fd = -1;
    if (const int error = m_fs->openDirectoryNoFollow(FileSystem::CurrentDirectory, folder.native().constData(),
                                                      folder.native(), &fd)) {
        return error;
    }
    const int error = m_fs->syncFile(fd, folder.native());
    m_fs->closeDirectory(fd);
    return error;
}

bool MoveJournal::begin(QString* error)
{
    m_undoing.reset();
    m_records.clear();
    m_batchId = QUuid::createUuid();
    QJsonObject head;
    head.insert(QLatin1String("batch"), m_batchId.toString(QUuid::WithoutBraces).toUpper());
    return start(head, error);
}

bool MoveJournal::beginUndo(const MoveBatch& batch, QString* error)
{
    m_undoing = batch;
    m_records.clear();
    m_batchId = QUuid::createUuid();
    QJsonObject head;
    head.insert(QLatin1String("batch"), m_batchId.toString(QUuid::WithoutBraces).toUpper());
    head.insert(QLatin1String("undo"), batch.id.toString(QUuid::WithoutBraces).toUpper());
    return start(head, error);
}

bool MoveJournal::start(const QJsonObject& fields, QString* error)
{
    if (exists(*m_fs, m_file)) {
        *error = QStringLiteral("Не завершён прежний перенос (%1): перезапустите программу, чтобы его восстановить")
                     .arg(m_file.toString());
        return false;
    }
    if (const int failed = m_fs->openFileAt(FileSystem::CurrentDirectory, m_file.native().constData(),
                                            m_file.native(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND, 0600, &m_fd)) {
        m_fd = -1;
        *error = failure(failed);
        return false;
    }
    QJsonObject head = fields;
    head.insert(QLatin1String("createdAt"), now());
    head.insert(QLatin1String("maker"), QString::fromLatin1(ProcessTag::current()));
    if (!append(QJsonDocument(head).toJson(QJsonDocument::Compact), error)) {
        return false;
    }
    // The file's name must survive a power cut as well as its lines.
    if (const int failed = syncFolder()) {
        *error = failure(failed);
        return false;
    }
    return true;
}

bool MoveJournal::append(const QByteArray& line, QString* error)
{
    if (m_fd < 0) {
        *error = failure(EBADF);
        return false;
    }
    int failed = m_fs->writeAll(m_fd, line + '\n', m_file.native());
    if (!failed) {
        failed = m_fs->syncFile(m_fd, m_file.native());
    }
    if (failed) {
        *error = failure(failed);
        return false;
    }
    return true;
}

bool MoveJournal::intend(const MoveRecord& record, QString* error)
{
    QJsonObject line;
    line.insert(QLatin1String("intent"), record.toJson());
    return append(QJsonDocument(line).toJson(QJsonDocument::Compact), error);
}

bool MoveJournal::complete(const MoveRecord& record, QString* error)
{
    QJsonObject line;
    line.insert(QLatin1String("done"), record.id.toString(QUuid::WithoutBraces).toUpper());
    line.insert(QLatin1String("movedAt"), record.movedAt);
    if (!append(QJsonDocument(line).toJson(QJsonDocument::Compact), error)) {
        return false;
    }
    bool saved = false;
    if (m_undoing) {
        m_undoing->records.removeIf([&](const MoveRecord& r) { return r.id == record.id; });
        saved = m_log.save(*m_undoing);
    } else {
        m_records.append(record);
        saved = m_log.save(MoveBatch{m_batchId, m_records, now()});
    }
    if (!saved) {
        *error = QStringLiteral("Не удалось сохранить журнал переноса в %1 — перенос остановлен").arg(m_storeName);
        return false;
    }
    return true;
}

void MoveJournal::end()
{
    if (m_fd < 0) {
        return;
    }
    m_fs->closeFile(m_fd);
    m_fd = -1;
    // Should this fail, the next start finds a finished batch and stores the
    // same records again: nothing is lost either way.
    if (m_fs->removeAt(FileSystem::CurrentDirectory, m_file.native().constData(), m_file.native(), false) == 0) {
        syncFolder();
    }
}

MoveRecovery MoveJournal::recover(const QList<FilePath>& extraFolders) const
{
    MoveRecovery recovery;
    QList<FilePath> folders = extraFolders;
    QFile file(m_file.toString());
    if (file.open(QIODevice::ReadOnly)) {
        QList<MoveRecord> intents;
        QHash<QUuid, double> done;
        QUuid undone;
        // A line cut short by the kill is the last one and announces nothing
        // that happened: it is skipped with anything else unreadable.
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.contains(QLatin1String("batch"))) {
                recovery.batchId = QUuid::fromString(o.value(QLatin1String("batch")).toString());
                undone = QUuid::fromString(o.value(QLatin1String("undo")).toString());
            } else if (o.value(QLatin1String("intent")).isObject()) {
                if (const auto record = MoveRecord::fromJson(o.value(QLatin1String("intent")).toObject())) {
                    intents.append(*record);
                }
            } else if (o.value(QLatin1String("done")).isString()) {
                done.insert(QUuid::fromString(o.value(QLatin1String("done")).toString()),
                            o.value(QLatin1String("movedAt")).toDouble());
            }
        }
        file.close();
        if (recovery.batchId.isNull()) {
            recovery.batchId = QUuid::createUuid();
        }
        for (const MoveRecord& record : std::as_const(intents)) {
            folders.append(record.destinationPath.parent());
            folders.append(record.originalPath.parent());
        }
        recovery.undo = !undone.isNull();
        const bool stored = recovery.undo ? recoverUndo(undone, intents, done, &recovery)
                                          : recoverMove(intents, done, &recovery);
        if (!stored) {
            recovery.errors.append(
                QStringLiteral("Не удалось сохранить журнал переноса в %1; прерванный перенос будет восстановлен при следующем запуске")
                    .arg(m_storeName));
        } else if (m_fs->removeAt(FileSystem::CurrentDirectory, m_file.native().constData(), m_file.native(), false)
                   == 0) {
            syncFolder();
        }
    }
    QSet<QByteArray> seen;
    for (const FilePath& folder : folders) {
        if (!folder.isEmpty() && !seen.contains(folder.native())) {
            seen.insert(folder.native());
            recovery.swept += sweepFolder(m_fs, folder, &recovery.errors);
        }
    }
    return recovery;
}

bool MoveJournal::recoverMove(const QList<MoveRecord>& intents, const QHash<QUuid, double>& done,
                              MoveRecovery* recovery) const
{
    QList<MoveRecord> records;
    for (MoveRecord record : intents) {
        if (done.contains(record.id)) {
            record.movedAt = done.value(record.id);
            records.append(record);
            continue;
        }
        record.movedAt = now();
        // Only a verified copy is ever renamed to the destination name, so
        // with both there the source may go.
        switch (settle(record.originalPath, record.destinationPath, recovery)) {
        case Settled::atTarget:
            records.append(record);
            break;
        case Settled::atSource:
            ++recovery->rolledBack;
            break;
        case Settled::bothKept:
            recovery->errors.last() += QStringLiteral(" — копия уже в архиве (") + record.destinationPath.toString()
                + QStringLiteral("), но и исходник остался на месте");
            break;
        case Settled::nowhere:
            recovery->errors.append(QStringLiteral("Не найден ни на месте, ни в архиве: ")
                                    + record.originalPath.toString());
            break;
        }
    }
    recovery->recorded = records.size();
    return records.isEmpty() || m_log.save(MoveBatch{recovery->batchId, records, now()});
}

bool MoveJournal::recoverUndo(const QUuid& undoneBatch, const QList<MoveRecord>& intents,
                              const QHash<QUuid, double>& done, MoveRecovery* recovery) const
{
    QSet<QUuid> returned;
    for (const MoveRecord& record : intents) {
        if (done.contains(record.id)) {
            returned.insert(record.id);
            continue;
        }
        // The way back: the archive copy is the source, the former place the target.
        switch (settle(record.destinationPath, record.originalPath, recovery)) {
        case Settled::atTarget:
            returned.insert(record.id);
            break;
        case Settled::atSource:
            ++recovery->rolledBack;
            break;
        case Settled::bothKept:
            recovery->errors.last() += QStringLiteral(" — файл уже возвращён, но копия осталась в архиве");
            returned.insert(record.id);
            break;
        case Settled::nowhere:
            recovery->errors.append(QStringLiteral("Не найден ни на месте, ни в архиве: ")
                                    + record.originalPath.toString());
            break;
        }
    }
    std::optional<MoveBatch> batch = m_log.loadLastBatch();
    if (!batch || batch->id != undoneBatch) {
        // The log holds another batch (or none): the files are settled, the
        // log is not this undo's to change.
        return true;
    }
    batch->records.removeIf([&](const MoveRecord& r) { return returned.contains(r.id); });
    recovery->recorded = batch->records.size();
    return batch->records.isEmpty() ? m_log.clear() : m_log.save(*batch);
}

MoveJournal::Settled MoveJournal::settle(const FilePath& source, const FilePath& target, MoveRecovery* recovery) const
{
    const bool atSource = exists(*m_fs, source);
    const bool atTarget = exists(*m_fs, target);
    if (atTarget && atSource) {
        // Only a verified copy is ever renamed to the target name: the
        // removal of the source was under way.
        const TreeRemover::Result removed = TreeRemover(m_fs, m_roots).remove(source);
        if (!removed.ok()) {
            recovery->errors.append(source.toString() + QStringLiteral(": ") + removed.message());
            return Settled::bothKept;
        }
        ++recovery->completed;
        return Settled::atTarget;
    }
    return atTarget ? Settled::atTarget : atSource ? Settled::atSource : Settled::nowhere;
}
