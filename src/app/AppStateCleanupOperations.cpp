// The operations of AppState that act on scan results: the Trash, the cleanup
// of selected cache rows, the move to the archive, its undo and the choice of
// the archive folder.
#include "AppState.h"

#include "base/ByteCountFormatter.h"
#include "fileops/MoveJournal.h"
#include "model/ReferenceDate.h"
#include "scan/CacheClassifier.h"

namespace {

QString resultLine(const QString& head, qint64 done, qint64 failed, qint64 freed)
{
    return head + QString::number(done) + QStringLiteral(", ошибок: ") + QString::number(failed)
        + QStringLiteral(", освобождено ") + ByteCountFormatter::format(freed);
}

QList<FilePath> recordPaths(FilePath MoveRecord::*which, const QList<MoveRecord>& records)
{
    QList<FilePath> paths;
    for (const MoveRecord& record : records) {
        paths.append(record.*which);
    }
    return paths;
}

QList<FilePath> itemPaths(const ScanItemList& items)
{
    QList<FilePath> paths;
    for (const ScanItem& item : items) {
        paths.append(item.path);
    }
    return paths;
}

} // namespace

void AppState::startProgress(const QString& task)
{
    setScanProgress(ScanProgress{true, task, 0, 0.0});
}

void AppState::stopProgress(const QString& task)
{
    ScanProgress done = m_scanProgress;
    done.isRunning = false;
    done.currentTask = task;
    setScanProgress(done);
}

void AppState::removeProcessedResults(const ScanItemList& processed)
{
    QSet<QUuid> ids;
    for (const ScanItem& item : processed) {
        ids.insert(item.id);
    }
    ScanItemList kept;
    for (const ScanItem& item : m_scanItems) {
        FileStat st;
        const bool gone = ids.contains(item.id) && !m_env.fileSystem->stat(item.path.native(), false, &st);
        if (!gone) {
            kept.append(item);
        }
    }
    if (kept.size() != m_scanItems.size()) {
        setScanItems(kept);
    }
}

void AppState::reportErrors(AppFeature feature, const QStringList& errors, const QMap<QString, QString>& context)
{
    if (!errors.isEmpty()) {
        m_env.errors->reportOperationErrors(feature, errors, context);
    }
}

QFuture<void> AppState::deleteSelectedScanItems()
{
    if (isBusy()) {
        setStatusMessage(busyMessage);
        return QtFuture::makeReadyFuture();
    }
    const ScanItemList items = selectedArchiveItems();
    if (items.isEmpty()) {
        setStatusMessage(!selectedItems().isEmpty() && activeScanCategoryIsReadOnly()
                             ? QStringLiteral("Для этой категории доступна только очистка безопасных кэшей")
                             : QStringLiteral("Ничего не выбрано для удаления"));
        return QtFuture::makeReadyFuture();
    }
    return trashItems(items);
}

QFuture<void> AppState::trashItems(const ScanItemList& items)
{
    if (!claimWriterLock()) {
        return QtFuture::makeReadyFuture();
    }
    startProgress(QStringLiteral("Удаление…"));
    setStatusMessage(std::nullopt);

    struct TrashRun
    {
        qint64 removed = 0;
        qint64 failed = 0;
        qint64 freed = 0;
        QStringList errors;
        bool stopped = false;
    };
    const TrashPtr trash = m_env.trash;
    const FileSystemPtr fs = m_env.fileSystem;
    const StopRequest stop = stopRequest();
    QPointer<AppState> self(this);
    // Each item is a rename into a trash on its own volume; the loop runs off
    // the main thread all the same, so that a slow disk never stalls the window.
    return OffThread::run(this,
        [trash, fs, items, self, stop] {
            TrashRun outcome;
            const qint64 n = items.size();
            for (qint64 i = 0; i < n; ++i) {
                if (shouldStop(stop)) {
                    outcome.stopped = true;
                    break;
                }
                const ScanItem& item = items[i];
                OffThread::post<AppState>(self, [name = item.name, i, n](AppState& state) {
                    ScanProgress progress = state.m_scanProgress;
                    progress.currentTask = QStringLiteral("Удаление ") + name + QStringLiteral("…");
                    progress.progress = double(i) / double(n);
                    state.setScanProgress(progress);
                });
                FileStat st;
                if (!fs->stat(item.path.native(), false, &st)) {
                    ++outcome.removed;
                    continue;
                }
                const TrashResult trashed = trash ? trash->moveToTrash(item.path)
                                                  : TrashResult::failure(QStringLiteral("Корзина недоступна"));
                if (trashed.ok) {
                    ++outcome.removed;
                    outcome.freed += item.size;
                } else {
                    ++outcome.failed;
                    outcome.errors.append(item.name + QStringLiteral(": ") + trashed.error);
                }
            }
            return outcome;
        },
        [items](AppState& state, TrashRun outcome) {
            state.removeProcessedResults(items);
            state.refreshUsage(itemPaths(items));
            state.stopProgress(QStringLiteral("Готово"));
            state.refreshDisks();
            if (outcome.freed >= 1) {
                state.m_history.record(outcome.freed, QStringLiteral("Удаление в Корзину"), outcome.removed);
                state.refreshStats();
            }
            state.setStatusMessage((outcome.stopped ? stoppedPrefix : QString())
                                   + resultLine(QStringLiteral("В Корзину: "), outcome.removed, outcome.failed,
                                                outcome.freed));
            state.track(QStringLiteral("scan_delete"), {{QStringLiteral("deleted"), QString::number(outcome.removed)},
                                                        {QStringLiteral("bytes"), QString::number(outcome.freed)}});
            state.reportErrors(AppFeature::scan, outcome.errors,
                               {{QStringLiteral("deleted"), QString::number(outcome.removed)}});
        });
}

QFuture<void> AppState::runSelectedScanCleanup()
{
    if (isBusy()) {
        setStatusMessage(busyMessage);
        return QtFuture::makeReadyFuture();
    }
    const ScanItemList items = selectedCleanableScanItems();
    if (items.isEmpty()) {
        setStatusMessage(
            !selectedItems().isEmpty() && activeScanCategoryIsReadOnly()
                ? QStringLiteral("Выбранные элементы нельзя очистить автоматически — см. подсказку в колонке «Детали»")
                : QStringLiteral("Ничего не выбрано для очистки"));
        return QtFuture::makeReadyFuture();
    }
    return cleanItems(items);
}

QFuture<void> AppState::cleanItems(const ScanItemList& items)
{
    if (!claimWriterLock()) {
        return QtFuture::makeReadyFuture();
    }
    startProgress(QStringLiteral("Очистка…"));
    setStatusMessage(std::nullopt);

    SafeCleanupCandidateList candidates;
    for (const ScanItem& item : items) {
        const CacheRisk risk = CacheClassifier::classify(item.path.toString(), m_layout);
        candidates.append(SafeCleanupCandidate{QUuid::createUuid(), item.path, item.name, item.size, risk, true});
    }
    const SafeCleanupService service = m_safeCleanup;
    const StopRequest stop = stopRequest();
    QPointer<AppState> self(this);
    const SafeCleanupService::ProgressHandler onProgress = [self](const QString& message, double fraction) {
        OffThread::post<AppState>(self, [message, fraction](AppState& state) {
            ScanProgress progress = state.m_scanProgress;
            progress.currentTask = message;
            progress.progress = fraction;
            // The service's own "Готово" comes before the result is folded in.
            progress.isRunning = true;
            state.setScanProgress(progress);
        });
    };
    return OffThread::run(this,
        [service, candidates, onProgress, stop] { return service.cleanup(candidates, onProgress, stop); },
        [items](AppState& state, SafeCleanupResult result) {
            state.stopProgress(QStringLiteral("Готово"));
            state.removeProcessedResults(items);
            state.refreshUsage(itemPaths(items));
            if (result.freedBytes >= 1) {
                state.m_history.record(result.freedBytes, QStringLiteral("Очистка из скана"), result.deleted);
                state.refreshStats();
            }
            state.refreshDisks();
            state.setStatusMessage((result.stopped ? stoppedPrefix : QString())
                                   + resultLine(QStringLiteral("Очищено: "), result.deleted, result.failed,
                                                result.freedBytes));
            state.track(QStringLiteral("safe_cleanup"), {{QStringLiteral("deleted"), QString::number(result.deleted)},
                                                         {QStringLiteral("bytes"), QString::number(result.freedBytes)},
                                                         {QStringLiteral("source"), QStringLiteral("scan_results")}});
            state.reportErrors(AppFeature::safeCleanup, result.errors,
                               {{QStringLiteral("deleted"), QString::number(result.deleted)},
                                {QStringLiteral("source"), QStringLiteral("scan_results")}});
        });
}

QFuture<void> AppState::moveSelectedToArchive()
{
    if (isBusy()) {
        setStatusMessage(busyMessage);
        return QtFuture::makeReadyFuture();
    }
    const ScanItemList items = selectedArchiveItems();
    if (items.isEmpty()) {
        setStatusMessage(selectedItems().isEmpty()
                             ? QStringLiteral("Ничего не выбрано")
                             : QStringLiteral("Выбранные элементы нельзя переносить (другая категория или только просмотр)"));
        return QtFuture::makeReadyFuture();
    }
    return moveItemsToArchive(items);
}

QFuture<void> AppState::moveItemsToArchive(const ScanItemList& items)
{
    if (!claimWriterLock()) {
        return QtFuture::makeReadyFuture();
    }
    startProgress(QStringLiteral("Перенос на архив…"));

    const FileMover mover = m_mover;
    const std::shared_ptr<MoveJournal> journal = makeJournal();
    const FilePath archive = FilePath::fromString(m_settings.archivePath);
    const StopRequest stop = stopRequest();
    QPointer<AppState> self(this);
    const MoveProgressHandler onProgress = [self](qint64 done, qint64 total) {
        OffThread::post<AppState>(self, [done, total](AppState& state) {
            ScanProgress progress = state.m_scanProgress;
            progress.currentTask = QStringLiteral("Перенос %1/%2…").arg(done).arg(total);
            progress.progress = double(done) / double(std::max<qint64>(total, 1));
            state.setScanProgress(progress);
        });
    };
    return OffThread::run(this,
        [mover, items, archive, onProgress, journal, stop] {
            if (!journal) {
                return mover.moveNow(items, archive, onProgress, nullptr, stop);
            }
            // A batch of this process whose log could not be stored is
            // still on disk: store it first, or refuse with the reason.
            if (FileStat st; mover.fileSystem()->stat(journal->file().native(), false, &st)) {
                journal->recover({});
            }
            return mover.moveNow(items, archive, onProgress, journal.get(), stop);
        },
        [items, journal](AppState& state, MoveResult result) {
            state.setLastMoveResult(result);
            state.stopProgress(state.m_scanProgress.currentTask);
            state.removeProcessedResults(items);
            state.refreshUsage(itemPaths(items) + recordPaths(&MoveRecord::destinationPath, result.records));
            if (result.moved >= 1) {
                state.m_history.record(result.freedBytes, QStringLiteral("Перенос на архив"), result.moved);
                if (!journal) {
                    const MoveBatch batch{QUuid::createUuid(), result.records,
                                          ReferenceDate::fromDateTime(state.m_env.clock->now())};
                    state.m_moveLog.save(batch);
                }
                state.refreshStats();
            }
            // Undo is offered only for what the log really holds.
            state.setUndoAvailable(state.m_moveLog.loadLastBatch().has_value());
            state.refreshDisks();
            // A stopped batch is stored like any other: what moved can be undone.
            QString line = (result.stopped ? stoppedPrefix : QString())
                + resultLine(QStringLiteral("Перенесено: "), result.moved, result.failed, result.freedBytes);
            if (!result.journalError.isEmpty()) {
                line += QStringLiteral(". ") + result.journalError;
            }
            state.setStatusMessage(line);
            state.track(QStringLiteral("archive_move"), {{QStringLiteral("moved"), QString::number(result.moved)},
                                                         {QStringLiteral("bytes"), QString::number(result.freedBytes)}});
            state.reportErrors(AppFeature::archiveMove, result.errors,
                               {{QStringLiteral("moved"), QString::number(result.moved)}});
        });
}

QFuture<void> AppState::undoLastMove()
{
    if (isBusy()) {
        setStatusMessage(busyMessage);
        return QtFuture::makeReadyFuture();
    }
    const std::optional<MoveBatch> batch = m_moveLog.loadLastBatch();
    if (!batch) {
        setStatusMessage(QStringLiteral("Нечего отменять"));
        setUndoAvailable(false);
        return QtFuture::makeReadyFuture();
    }
    if (!claimWriterLock()) {
        return QtFuture::makeReadyFuture();
    }
    startProgress(QStringLiteral("Отмена переноса…"));
    const MoveLogStore log = m_moveLog;
    const MoveBatch last = *batch;
    const std::shared_ptr<MoveJournal> journal = makeJournal();
    const FileSystemPtr fs = m_env.fileSystem;
    return OffThread::run(this,
        [log, last, journal, fs] {
            if (!journal) {
                return log.undo(last);
            }
            // A batch this process could not finish recording is settled
            // first; the log then says what is left to undo.
            if (FileStat st; fs->stat(journal->file().native(), false, &st)) {
                journal->recover({});
                const std::optional<MoveBatch> now = log.loadLastBatch();
                return now ? log.undo(*now, journal.get()) : MoveResult{};
            }
            return log.undo(last, journal.get());
        },
                                       [last](AppState& state, MoveResult result) {
                                           state.setLastMoveResult(result);
                                           state.stopProgress(state.m_scanProgress.currentTask);
                                           state.setUndoAvailable(state.m_moveLog.loadLastBatch().has_value());
                                           state.refreshUsage(
                                               recordPaths(&MoveRecord::originalPath, last.records)
                                               + recordPaths(&MoveRecord::destinationPath, last.records));
                                           state.refreshDisks();
                                           QString line = QStringLiteral("Возвращено: ") + QString::number(result.moved)
                                               + QStringLiteral(", ошибок: ") + QString::number(result.failed);
                                           if (!result.journalError.isEmpty()) {
                                               line += QStringLiteral(". ") + result.journalError;
                                           }
                                           state.setStatusMessage(line);
                                           state.track(QStringLiteral("archive_undo"),
                                                       {{QStringLiteral("restored"), QString::number(result.moved)}});
                                           state.reportErrors(AppFeature::archiveUndo, result.errors,
                                                              {{QStringLiteral("restored"),
                                                                QString::number(result.moved)}});
                                       });
}

void AppState::pickArchiveFolder()
{
    if (!m_env.folderChooser) {
        return;
    }
    const FilePath current = FilePath::fromString(m_settings.archivePath);
    const std::optional<FilePath> chosen = m_env.folderChooser->chooseFolder(current.parent(), QStringLiteral("Выбрать"));
    if (!chosen) {
        return;
    }
    AppSettings changed = m_settings;
    changed.archivePath = chosen->toString();
    setSettings(changed);
    saveSettings();
    refreshCleanArchives();
}
