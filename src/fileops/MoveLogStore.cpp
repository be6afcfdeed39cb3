#include "MoveLogStore.h"

#include "platform/StoredNumbers.h"

MoveLogStore::MoveLogStore(QString key, DefaultsStorePtr defaults, FileSystemPtr fileSystem)
    : m_key(std::move(key))
    , m_defaults(std::move(defaults))
    , m_fs(fileSystem)
    , m_transfer(std::move(fileSystem))
{
}

bool MoveLogStore::save(const MoveBatch& batch) const
{
    const std::optional<QByteArray> json = batch.toJson();
    return json && m_defaults->setData(m_key, *json);
}

std::optional<MoveBatch> MoveLogStore::loadLastBatch() const
{
    const std::optional<QByteArray> stored = m_defaults->data(m_key);
    if (!stored) {
        return std::nullopt;
    }
    return MoveBatch::fromJson(*stored);
}

MoveResult MoveLogStore::undo(const MoveBatch& batch) const
{
    MoveResult result;
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
        if (const int error = m_transfer.makePath(target.parent())) {
            result.errors.append(source.fileName() + QStringLiteral(": ") + ItemTransfer::describe(error));
            ++result.failed;
            continue;
        }
        const ItemTransfer::Result moved = m_transfer.move(source, target);
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
    }
    if (result.failed == 0 || result.moved > 0) {
        m_defaults->remove(m_key);
    }
    return result;
}
