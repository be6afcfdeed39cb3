#include "FileMover.h"

#include "app/ReferenceDate.h"
#include "scan/CacheClassifier.h"

#include <QtConcurrent/QtConcurrentRun>

FileMover::FileMover(FileSystemPtr fileSystem, ClockPtr clock)
    : m_fs(fileSystem)
    , m_clock(std::move(clock))
    , m_transfer(std::move(fileSystem))
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
                              const MoveProgressHandler& onProgress) const
{
    MoveResult result;
    if (const int error = m_transfer.makePath(archiveFolder)) {
        result.failed = items.size();
        result.errors.append(QStringLiteral("Не удалось создать папку архива: ") + ItemTransfer::describe(error));
        return result;
    }
    const QString archiveText = CacheClassifier::standardizePath(archiveFolder.toString());
    const qint64 total = items.size();
    for (qint64 i = 0; i < total; ++i) {
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
        const FilePath destination = uniqueDestination(item, archiveFolder);
        const ItemTransfer::Result moved = m_transfer.move(item.path, destination);
        switch (moved.outcome) {
        case ItemTransfer::Outcome::moved:
            ++result.moved;
            result.freedBytes += item.size;
            result.records.append(MoveRecord{QUuid::createUuid(), item.path, destination, item.size,
                                             ReferenceDate::fromDateTime(m_clock->now())});
            break;
        case ItemTransfer::Outcome::copiedSourceKept:
            result.errors.append(item.name + QStringLiteral(": ") + moved.error
                                 + QStringLiteral(" — копия уже в архиве (") + destination.toString()
                                 + QStringLiteral("), но и исходник остался на месте"));
            ++result.failed;
            break;
        case ItemTransfer::Outcome::failed:
            result.errors.append(item.name + QStringLiteral(": ") + moved.error);
            ++result.failed;
            break;
        }
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
