// The operations of AppState behind the maintenance panels: the safe cache
// cleanup.
#include "AppState.h"

#include "base/ByteCountFormatter.h"
#include "base/RussianPlural.h"

qint64 AppState::selectedSafeCleanupSize() const
{
    qint64 total = 0;
    for (const SafeCleanupCandidate& candidate : m_safeCleanupCandidates) {
        if (candidate.isSelected) {
            total += candidate.size;
        }
    }
    return total;
}

void AppState::setSafeCleanupCandidates(const SafeCleanupCandidateList& candidates)
{
    m_safeCleanupCandidates = candidates;
    Q_EMIT safeCleanupCandidatesChanged();
}

void AppState::scanSafeCleanup()
{
    if (isBusy()) {
        setStatusMessage(busyMessage);
        return;
    }
    setSafeCleanupCandidates(m_safeCleanup.scan(m_layout));
    if (m_safeCleanupCandidates.isEmpty()) {
        setStatusMessage(QStringLiteral("Безопасные кэши не найдены или уже очищены"));
        return;
    }
    qint64 total = 0;
    for (const SafeCleanupCandidate& candidate : m_safeCleanupCandidates) {
        total += candidate.size;
    }
    setStatusMessage(QStringLiteral("Найдено ") + RussianPlural::count(m_safeCleanupCandidates.size(), RussianPlural::caches)
                     + QStringLiteral(" (") + ByteCountFormatter::format(total) + QStringLiteral(")"));
}

void AppState::toggleSafeCleanupSelection(const QUuid& id, bool selected)
{
    for (SafeCleanupCandidate& candidate : m_safeCleanupCandidates) {
        if (candidate.id == id) {
            candidate.isSelected = selected;
            Q_EMIT safeCleanupCandidatesChanged();
            return;
        }
    }
}

QFuture<void> AppState::runSafeCleanup()
{
    if (isBusy()) {
        setStatusMessage(busyMessage);
        return QtFuture::makeReadyFuture();
    }
    const bool anySelected = std::any_of(m_safeCleanupCandidates.cbegin(), m_safeCleanupCandidates.cend(),
                                         [](const SafeCleanupCandidate& c) { return c.isSelected; });
    if (!anySelected) {
        setStatusMessage(QStringLiteral("Ничего не выбрано для очистки"));
        return QtFuture::makeReadyFuture();
    }
    if (!claimWriterLock()) {
        return QtFuture::makeReadyFuture();
    }
    setCleanArchiveProgress(CleanArchiveProgress{true, QStringLiteral("Очистка кэшей…"), 0.0, 0});
    setStatusMessage(std::nullopt);

    const SafeCleanupService service = m_safeCleanup;
    const SafeCleanupCandidateList candidates = m_safeCleanupCandidates;
    const StopRequest stop = stopRequest();
    QPointer<AppState> self(this);
    const SafeCleanupService::ProgressHandler onProgress = [self](const QString& message, double fraction) {
        OffThread::post<AppState>(self, [message, fraction](AppState& state) {
            CleanArchiveProgress progress = state.m_cleanArchiveProgress;
            progress.currentTask = message;
            progress.progress = fraction;
            state.setCleanArchiveProgress(progress);
        });
    };
    return OffThread::run(this,
        [service, candidates, onProgress, stop] { return service.cleanup(candidates, onProgress, stop); },
        [](AppState& state, SafeCleanupResult result) {
            CleanArchiveProgress done = state.m_cleanArchiveProgress;
            done.isRunning = false;
            done.currentTask = QStringLiteral("Готово");
            state.setCleanArchiveProgress(done);
            if (result.freedBytes >= 1) {
                state.m_history.record(result.freedBytes, QStringLiteral("Безопасная очистка"), result.deleted);
                state.refreshStats();
            }
            state.refreshDisks();
            state.setSafeCleanupCandidates(state.m_safeCleanup.scan(state.m_layout));
            state.setStatusMessage((result.stopped ? stoppedPrefix : QString()) + QStringLiteral("Удалено: ")
                                   + QString::number(result.deleted)
                                   + QStringLiteral(", ошибок: ") + QString::number(result.failed)
                                   + QStringLiteral(", освобождено ") + ByteCountFormatter::format(result.freedBytes));
            state.reportErrors(AppFeature::safeCleanup, result.errors,
                               {{QStringLiteral("deleted"), QString::number(result.deleted)}});
        });
}
