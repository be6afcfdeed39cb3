// The operations of AppState behind the clean archive panel: creating,
// listing and restoring clean archives.
#include "AppState.h"

#include "base/ByteCountFormatter.h"
#include "base/RussianPlural.h"

void AppState::setCleanArchives(const CleanArchiveSummaryList& archives)
{
    m_cleanArchives = archives;
    Q_EMIT cleanArchivesChanged();
}

void AppState::refreshCleanArchives()
{
    setCleanArchives(m_cleanArchive.listArchives(FilePath::fromString(m_settings.archivePath)));
}

CleanArchiveService::ProgressHandler AppState::archiveProgressRelay()
{
    QPointer<AppState> self(this);
    return [self](const CleanArchiveProgress& progress) {
        OffThread::post<AppState>(self, [progress](AppState& state) {
            // The service's last report says it stopped, but its result is not
            // folded in yet: staying busy until then keeps another operation
            // from starting in between.
            CleanArchiveProgress running = progress;
            running.isRunning = true;
            state.setCleanArchiveProgress(running);
        });
    };
}

QFuture<CleanArchiveCreateResult> AppState::createCleanArchive(CleanArchiveProfile profile)
{
    if (isBusy()) {
        setStatusMessage(busyMessage);
        return QtFuture::makeReadyFuture(CleanArchiveCreateResult());
    }
    if (!claimWriterLock()) {
        return QtFuture::makeReadyFuture(CleanArchiveCreateResult());
    }
    setCleanArchiveProgress(CleanArchiveProgress{true, QStringLiteral("Создание архива…"), 0.0, 0});
    setStatusMessage(std::nullopt);

    const CleanArchiveService service = m_cleanArchive;
    const AppSettings settings = m_settings;
    const CleanArchiveService::ProgressHandler onProgress = archiveProgressRelay();
    const StopRequest stop = stopRequest();
    auto promise = std::make_shared<QPromise<CleanArchiveCreateResult>>();
    promise->start();
    QFuture<CleanArchiveCreateResult> future = promise->future();
    OffThread::run(this,
        [service, profile, settings, onProgress, stop] { return service.create(profile, settings, onProgress, stop); },
        [promise, profile](AppState& state, CleanArchiveCreateResult result) {
            CleanArchiveProgress done = state.m_cleanArchiveProgress;
            done.isRunning = false;
            state.setCleanArchiveProgress(done);
            state.refreshCleanArchives();
            if (result.stopped) {
                state.setStatusMessage(QStringLiteral("Создание архива «") + CleanArchiveProfiles::title(profile)
                                       + QStringLiteral("» остановлено — неполная копия удалена"));
                promise->addResult(std::move(result));
                promise->finish();
                return;
            }

            const CleanArchiveManifest& manifest = result.manifest;
            const bool packed = manifest.compression == QLatin1String("tar.zst");
            QString status = QStringLiteral("Архив «") + CleanArchiveProfiles::title(profile) + QStringLiteral("»: ")
                + RussianPlural::count(result.copiedFiles, RussianPlural::items) + QStringLiteral(", ")
                + ByteCountFormatter::format(manifest.totalBytes);
            if (packed && manifest.compressedBytes) {
                status += QStringLiteral(" → ") + ByteCountFormatter::format(*manifest.compressedBytes)
                    + QStringLiteral(" tar.zst");
            }
            state.setStatusMessage(status);
            state.track(QStringLiteral("clean_archive_created"),
                        {{QStringLiteral("profile"), CleanArchiveProfiles::rawValue(profile)},
                         {QStringLiteral("files"), QString::number(result.copiedFiles)},
                         {QStringLiteral("compressed"), packed ? QStringLiteral("1") : QStringLiteral("0")}});
            state.reportErrors(AppFeature::cleanArchive, result.errors,
                               {{QStringLiteral("profile"), CleanArchiveProfiles::rawValue(profile)}});
            promise->addResult(std::move(result));
            promise->finish();
        });
    return future;
}

QFuture<RestoreResult> AppState::restoreCleanArchive(const CleanArchiveSummary& summary)
{
    if (isBusy()) {
        setStatusMessage(busyMessage);
        return QtFuture::makeReadyFuture(RestoreResult());
    }
    if (!claimWriterLock()) {
        return QtFuture::makeReadyFuture(RestoreResult());
    }
    setCleanArchiveProgress(CleanArchiveProgress{true, QStringLiteral("Восстановление…"), 0.0, 0});

    const CleanArchiveService service = m_cleanArchive;
    const CleanArchiveService::ProgressHandler onProgress = archiveProgressRelay();
    const StopRequest stop = stopRequest();
    auto promise = std::make_shared<QPromise<RestoreResult>>();
    promise->start();
    QFuture<RestoreResult> future = promise->future();
    OffThread::run(this,
        [service, summary, onProgress, stop] { return service.restore(summary, onProgress, stop); },
        [promise, id = summary.id](AppState& state, RestoreResult result) {
            CleanArchiveProgress done = state.m_cleanArchiveProgress;
            done.isRunning = false;
            state.setCleanArchiveProgress(done);
            state.setStatusMessage((result.stopped ? stoppedPrefix : QString()) + QStringLiteral("Восстановлено: ")
                                   + QString::number(result.restored)
                                   + QStringLiteral(", пропущено (уже есть): ") + QString::number(result.skipped)
                                   + QStringLiteral(", ошибок: ") + QString::number(result.failed));
            state.track(
                QStringLiteral("clean_archive_restored"),
                {{QStringLiteral("archive"), id}, {QStringLiteral("restored"), QString::number(result.restored)}});
            if (result.failed >= 1) {
                state.reportErrors(AppFeature::cleanArchive, result.errors, {{QStringLiteral("archive"), id}});
            }
            promise->addResult(std::move(result));
            promise->finish();
        });
    return future;
}

QStringList AppState::cleanArchiveEntriesAtHome(const CleanArchiveSummary& summary) const
{
    return m_cleanArchive.entriesAlreadyAtHome(summary);
}
