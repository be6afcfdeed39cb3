// The operations of AppState that act on scan results: move to the archive,
// undo and the choice of the archive folder.
#include "AppState.h"

#include "app/ReferenceDate.h"
#include "platform/ByteCountFormatter.h"

namespace {

QString resultLine(const QString& head, qint64 done, qint64 failed, qint64 freed)
{
    return head + QString::number(done) + QStringLiteral(", ошибок: ") + QString::number(failed)
        + QStringLiteral(", освобождено ") + ByteCountFormatter::format(freed);
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
    startProgress(QStringLiteral("Перенос на архив…"));

    const FileMover mover = m_mover;
    const FilePath archive = FilePath::fromString(m_settings.archivePath);
    QPointer<AppState> self(this);
    const MoveProgressHandler onProgress = [self](qint64 done, qint64 total) {
        postToMainThread(self, [done, total](AppState& state) {
            ScanProgress progress = state.m_scanProgress;
            progress.currentTask = QStringLiteral("Перенос %1/%2…").arg(done).arg(total);
            progress.progress = double(done) / double(std::max<qint64>(total, 1));
            state.setScanProgress(progress);
        });
    };
    return runInBackground<MoveResult>(
        [mover, items, archive, onProgress] { return mover.moveNow(items, archive, onProgress); },
        [items](AppState& state, MoveResult result) {
            state.setLastMoveResult(result);
            state.stopProgress(state.m_scanProgress.currentTask);
            state.removeProcessedResults(items);
            if (result.moved >= 1) {
                state.m_history.record(result.freedBytes, QStringLiteral("Перенос на архив"), result.moved);
                const MoveBatch batch{QUuid::createUuid(), result.records,
                                      ReferenceDate::fromDateTime(state.m_env.clock->now())};
                state.m_moveLog.save(batch);
                state.setUndoAvailable(true);
                state.refreshStats();
            }
            state.refreshDisks();
            state.setStatusMessage(
                resultLine(QStringLiteral("Перенесено: "), result.moved, result.failed, result.freedBytes));
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
    startProgress(QStringLiteral("Отмена переноса…"));
    const MoveLogStore log = m_moveLog;
    const MoveBatch last = *batch;
    return runInBackground<MoveResult>([log, last] { return log.undo(last); },
                                       [](AppState& state, MoveResult result) {
                                           state.setLastMoveResult(result);
                                           state.stopProgress(state.m_scanProgress.currentTask);
                                           state.setUndoAvailable(state.m_moveLog.loadLastBatch().has_value());
                                           state.refreshDisks();
                                           state.setStatusMessage(QStringLiteral("Возвращено: ")
                                                                  + QString::number(result.moved)
                                                                  + QStringLiteral(", ошибок: ")
                                                                  + QString::number(result.failed));
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
}
