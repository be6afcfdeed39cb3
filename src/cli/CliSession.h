#pragma once

#include "app/AppState.h"
#include "health/StorageHistory.h"

#include <QFuture>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class Console;
class RecordingErrorSink;

// The application state of one run of the brisko program, on the machine's
// own environment, and the waiting for its operations: the command line has
// no window whose event loop would deliver their results.
class CliSession
{
public:
    // What one operation left besides the status line.
    struct OperationRun
    {
        // False when the state refused at once (busy, nothing selected, …);
        // only the status line tells why.
        bool started = false;
        // The per-item failures the state reported, in order.
        QStringList errors;
        // The history event the operation recorded, if any.
        std::optional<StorageEvent> recorded;
    };

    // On the machine's environment made from process. progressOn may be
    // null: nothing is shown while waiting. chooser is what
    // pickArchiveFolder() asks; may be empty.
    CliSession(const ProcessServices& process, Console* progressOn, FolderChooserPtr chooser = {});
    ~CliSession();
    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    AppState& state() { return *m_state; }
    const AppState& state() const { return *m_state; }
    const AppEnvironment& environment() const { return m_env; }

    // Runs a scan and waits for its results; false when it was refused.
    bool scan(ScanCategory category);
    // Starts an operation of the state and waits until its future finishes.
    OperationRun run(const std::function<QFuture<void>(AppState&)>& start);
    // The stored events, newest first.
    QList<StorageEvent> history() const;

private:
    void wait(const QFuture<void>& future);

    Console* m_progressOn;
    AppEnvironment m_env;
    std::shared_ptr<RecordingErrorSink> m_errors;
    std::unique_ptr<AppState> m_state;
};
