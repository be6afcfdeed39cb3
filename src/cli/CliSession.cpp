#include "CliSession.h"

#include "CliInterrupt.h"
#include "ProgressPrinter.h"
#include "RecordingErrorSink.h"
#include "Console.h"
#include "StepProgressPrinter.h"

#include <QEventLoop>
#include <QFutureWatcher>

CliSession::CliSession(const ProcessServices& process, Console* progressOn, FolderChooserPtr chooser)
    : m_progressOn(progressOn)
    , m_env(AppEnvironment::platform(process))
{
    // The state reports its per-item failures to the error sink; recording
    // them on the way lets the command show them too.
    m_errors = std::make_shared<RecordingErrorSink>(m_env.errors);
    m_env.errors = m_errors;
    m_env.folderChooser = std::move(chooser);
    m_state = std::make_unique<AppState>(m_env);
    const MoveRecovery recovery = m_state->recoverInterruptedWork();
    if (m_progressOn && recovery.foundSomething()) {
        m_progressOn->errLine(QStringLiteral("brisko: ") + recovery.statusLine());
        for (const QString& error : recovery.errors) {
            m_progressOn->errLine(QStringLiteral("brisko: ") + error);
        }
    }
}

CliSession::~CliSession() = default;

void CliSession::wait(const QFuture<void>& future)
{
    if (future.isFinished()) {
        return;
    }
    // Ctrl+C stops the operation cleanly; a second one ends the program.
    const CliInterrupt interrupt(CliInterrupt::stopping(*m_state, m_progressOn));
    QEventLoop loop;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished()) {
        loop.exec();
    }
}

bool CliSession::scan(ScanCategory category)
{
    std::optional<ProgressPrinter> printer;
    QMetaObject::Connection shown;
    if (m_progressOn) {
        printer.emplace(*m_progressOn);
        shown = QObject::connect(m_state.get(), &AppState::scanProgressChanged, m_state.get(),
                                 [this, &printer] { printer->show(m_state->scanProgress()); });
    }
    const QFuture<void> scanned = m_state->runScan({category});
    // A scan that starts is busy from the first moment; a refused one never is.
    const bool started = m_state->isBusy();
    wait(scanned);
    QObject::disconnect(shown);
    if (printer) {
        printer->finish();
    }
    return started;
}

CliSession::OperationRun CliSession::run(const std::function<QFuture<void>(AppState&)>& start)
{
    std::optional<StepProgressPrinter> printer;
    QList<QMetaObject::Connection> shown;
    if (m_progressOn) {
        printer.emplace(*m_progressOn);
        shown.append(QObject::connect(m_state.get(), &AppState::scanProgressChanged, m_state.get(), [this, &printer] {
            const ScanProgress& progress = m_state->scanProgress();
            if (progress.isRunning) {
                printer->show(progress.currentTask, progress.progress);
            }
        }));
        shown.append(
            QObject::connect(m_state.get(), &AppState::cleanArchiveProgressChanged, m_state.get(), [this, &printer] {
                const CleanArchiveProgress& progress = m_state->cleanArchiveProgress();
                if (progress.isRunning) {
                    printer->show(progress.currentTask, progress.progress);
                }
            }));
    }
    m_errors->takeOperationErrors();
    const std::optional<StorageEvent> lastBefore = m_state->storageStats().lastEvent;

    OperationRun run;
    const QFuture<void> finished = start(*m_state);
    // Every operation publishes its running progress before it returns; a
    // refusal only changes the status line.
    run.started = m_state->isBusy();
    wait(finished);
    for (const QMetaObject::Connection& connection : shown) {
        QObject::disconnect(connection);
    }
    if (printer) {
        printer->finish();
    }

    run.errors = m_errors->takeOperationErrors();
    const std::optional<StorageEvent> lastAfter = m_state->storageStats().lastEvent;
    if (lastAfter && (!lastBefore || lastBefore->id != lastAfter->id)) {
        run.recorded = lastAfter;
    }
    return run;
}

QList<StorageEvent> CliSession::history() const
{
    return StorageHistoryStore(AppState::historyKey, 100, m_env.defaults, m_env.clock).load();
}
