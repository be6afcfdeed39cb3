#include "MoveLogStore.h"

#include "MoveJournal.h"
#include "platform/StoredNumbers.h"

MoveLogStore::MoveLogStore(QString key, DefaultsStorePtr defaults, FileSystemPtr fileSystem, TrustedRoots roots)
    : m_key(std::move(key))
    , m_defaults(std::move(defaults))
    , m_fs(std::move(fileSystem))
    , m_roots(std::move(roots))
{
}

bool MoveLogStore::save(const MoveBatch& batch) const
{
    const std::optional<QByteArray> json = batch.toJson();
    return json && m_defaults->setData(m_key, *json);
}

bool MoveLogStore::clear() const
{
    return m_defaults->remove(m_key);
}

std::optional<MoveBatch> MoveLogStore::loadLastBatch() const
{
    const std::optional<QByteArray> stored = m_defaults->data(m_key);
    if (!stored) {
        return std::nullopt;
    }
    return MoveBatch::fromJson(*stored);
}

MoveResult MoveLogStore::undo(const MoveBatch& batch, MoveJournal* journal) const
{
    MoveResult result;
    if (journal && !batch.records.isEmpty()) {
        if (!journal->beginUndo(batch, &result.journalError)) {
            result.errors.append(result.journalError);
            result.failed = batch.records.size();
            return result;
        }
    }
    TrustedRoots roots = m_roots;
    for (const MoveRecord& record : batch.records) {
        roots = roots.with(*m_fs, record.destinationPath.parent());
    }
    const ItemTransfer transfer(m_fs, roots);
    const auto exists = [this](const FilePath& path) {
        FileStat st;
        return m_fs->stat(path.native(), false, &st);
    };
    for (qsizetype i = batch.records.size() - 1; i >= 0; --i) {
        const MoveRecord& record = batch.records[i];
        const FilePath& source = record.destinationPath;
        const FilePath& target = record.originalPath;
        if (!exists(source)) {
            result.errors.append(QStringLiteral("Не найден в архиве: ") + source.fileName());
            ++result.failed;
            continue;
        }
        if (exists(target)) {
            result.errors.append(QStringLiteral("Уже существует: ") + target.fileName());
            ++result.failed;
            continue;
        }
        if (const int error = transfer.makePath(target.parent())) {
            result.errors.append(source.fileName() + QStringLiteral(": ") + ItemTransfer::describe(error));
            ++result.failed;
            continue;
        }
        QString journalError;
        if (journal && !journal->intend(record, &journalError)) {
            result.journalError = journalError;
            result.errors.append(journalError);
            result.failed += i + 1;
            break;
        }
        const ItemTransfer::Result moved = transfer.move(source, target);
        switch (moved.outcome) {
        case ItemTransfer::Outcome::moved:
            ++result.moved;
            result.freedBytes = StoredNumbers::add(result.freedBytes, record.size);
            break;
        case ItemTransfer::Outcome::copiedSourceKept:
            result.errors.append(source.fileName() + QStringLiteral(": ") + moved.error
                                 + QStringLiteral(" — файл уже возвращён, но копия осталась в архиве"));
            ++result.failed;
            break;
        case ItemTransfer::Outcome::failed:
            result.errors.append(source.fileName() + QStringLiteral(": ") + moved.error);
            ++result.failed;
            break;
        }
        if (journal && moved.outcome == ItemTransfer::Outcome::moved && !journal->complete(record, &journalError)) {
            result.journalError = journalError;
            result.errors.append(journalError);
            result.failed += i;
            break;
        }
    }
    if (!result.journalError.isEmpty()) {
        // The journal stays for the next start, which leaves the log holding
        // exactly what is still in the archive.
        return result;
    }
    if (result.failed == 0 || result.moved > 0) {
        clear();
    }
    if (journal) {
        journal->end();
    }
    return result;
}
