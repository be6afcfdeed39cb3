#include "FileMover.h"

#include "MoveJournal.h"
#include "platform/StoredNumbers.h"

#include "model/ReferenceDate.h"
#include "scan/CacheClassifier.h"

#include <QtConcurrent/QtConcurrentRun>

FileMover::FileMover(FileSystemPtr fileSystem, ClockPtr clock, TrustedRoots roots)
    : m_fs(fileSystem)
    , m_clock(std::move(clock))
    , m_transfer(std::move(fileSystem), std::move(roots))
{
}

QFuture<MoveResult> FileMover::moveToArchive(const ScanItemList& items, const FilePath& archiveFolder,
                                             MoveProgressHandler onProgress) const
{
    const FileMover self = *this;
    return QtConcurrent::run([self, items, archiveFolder, onProgress = std::move(onProgress)] {
        return self.moveNow(items, archiveFolder, onProgress);
    });
}

bool FileMover::exists(const FilePath& path) const
{
    FileStat st;
    return m_fs->stat(path.native(), false, &st);
}

MoveResult FileMover::moveNow(const ScanItemList& items, const FilePath& archiveFolder,
                              const MoveProgressHandler& onProgress, MoveJournal* journal,
                              const MoveStopRequest& stop) const
{
    MoveResult result;
    if (!archiveFolder.native().startsWith('/')) {
        result.failed = items.size();
        result.errors.append(QStringLiteral("Не удалось создать папку архива: путь к архиву должен быть абсолютным"));
        return result;
    }
    if (const int error = m_transfer.makePath(archiveFolder)) {
        result.failed = items.size();
        result.errors.append(QStringLiteral("Не удалось создать папку архива: ") + ItemTransfer::describe(error));
        return result;
    }
    const qint64 total = items.size();
    const auto journalFailed = [&](const QString& message, qint64 notProcessed) {
        result.journalError = message;
        result.errors.append(message);
        result.failed += notProcessed;
    };
    if (journal && total > 0) {
        QString error;
        if (!journal->begin(&error)) {
            journalFailed(error, total);
            return result;
        }
    }
    const QString archiveText = CacheClassifier::standardizePath(archiveFolder.toString());
    for (qint64 i = 0; i < total; ++i) {
        if (stop && stop()) {
            result.stopped = true;
            break;
        }
        const ScanItem& item = items[i];
        if (onProgress) {
            onProgress(i + 1, total);
        }
        if (!exists(item.path)) {
            result.errors.append(QStringLiteral("Файл не найден: ") + item.path.toString());
            ++result.failed;
            continue;
        }
        if (ScanCategories::isCleanable(item.category)) {
            result.errors.append(QStringLiteral("Эту категорию нельзя переносить автоматически: ") + item.name);
            ++result.failed;
            continue;
        }
        const QString itemText = CacheClassifier::standardizePath(item.path.toString());
        if (archiveText == itemText || archiveText.startsWith(itemText + QLatin1Char('/'))) {
            result.errors.append(item.name + QStringLiteral(": папка архива находится внутри переносимой папки"));
            ++result.failed;
            continue;
        }
        // Already archived: moving it within the archive frees nothing.
        if (itemText.startsWith(archiveText + QLatin1Char('/'))) {
            result.errors.append(item.name + QStringLiteral(": уже находится в папке архива"));
            ++result.failed;
            continue;
        }
        MoveRecord record{QUuid::createUuid(), item.path, uniqueDestination(item, archiveFolder), item.size, 0};
        QString journalError;
        if (journal && !journal->intend(record, &journalError)) {
            journalFailed(journalError, total - i);
            break;
        }
        const ItemTransfer::Result moved = m_transfer.move(item.path, record.destinationPath);
        switch (moved.outcome) {
        case ItemTransfer::Outcome::moved:
            ++result.moved;
            result.freedBytes = StoredNumbers::add(result.freedBytes, item.size);
            record.movedAt = ReferenceDate::fromDateTime(m_clock->now());
            result.records.append(record);
            break;
        case ItemTransfer::Outcome::copiedSourceKept:
            result.errors.append(item.name + QStringLiteral(": ") + moved.error
                                 + QStringLiteral(" — копия уже в архиве (") + record.destinationPath.toString()
                                 + QStringLiteral("), но и исходник остался на месте"));
            ++result.failed;
            break;
        case ItemTransfer::Outcome::failed:
            result.errors.append(item.name + QStringLiteral(": ") + moved.error);
            ++result.failed;
            break;
        }
        if (journal && moved.outcome == ItemTransfer::Outcome::moved
            && !journal->complete(record, &journalError)) {
            journalFailed(journalError, total - i - 1);
            break;
        }
    }
    if (journal && result.journalError.isEmpty()) {
        journal->end();
    }
    return result;
}

FilePath FileMover::uniqueDestination(const ScanItem& item, const FilePath& archiveFolder) const
{
    const QByteArray name = item.path.fileNameNative();
    const FilePath first = archiveFolder.child(name);
    if (!exists(first)) {
        return first;
    }
    // Split at the last dot, as the extension rule does (".hidden" has none).
    const qsizetype dot = name.lastIndexOf('.');
    const bool hasExtension = dot > 0 && dot + 1 < name.size();
    const QByteArray base = hasExtension ? name.left(dot) : (dot > 0 ? name.left(dot) : name);
    const QByteArray extension = hasExtension ? name.mid(dot + 1) : QByteArray();
    const QByteArray parent = item.path.parent().fileNameNative();
    const auto candidate = [&](const QByteArray& suffix) {
        QByteArray n = base + "__" + parent + suffix;
        if (!extension.isEmpty()) {
            n += '.' + extension;
        }
        return archiveFolder.child(n);
    };
    FilePath next = candidate(QByteArray());
    for (qint64 n = 2; exists(next); ++n) {
        next = candidate('_' + QByteArray::number(n));
    }
    return next;
}
