#pragma once

#include <QObject>

class AppState;
class Console;

#include <functional>
#include <memory>

class QSocketNotifier;

// Ctrl+C while an operation of the command line runs: the first one asks the
// operation to stop at its next item boundary (onFirst runs on the thread of
// the event loop, never inside the signal handler); a second one ends the
// program at once, as SIGINT does by default. The previous handling of
// SIGINT comes back when this object goes. One at a time per process.
class CliInterrupt : public QObject
{
    Q_OBJECT
public:
    explicit CliInterrupt(std::function<void()> onFirst);
    // The usual first reaction: say so on console (may be null) and ask the
    // state's running operation to stop.
    static std::function<void()> stopping(AppState& state, Console* console);
    ~CliInterrupt() override;

    // The signal side alone, for a process without an event loop: installs
    // the handler and returns the descriptor that becomes readable on the
    // first SIGINT, or -1.
    static int installHandler();
    static void removeHandler();

private:
    std::function<void()> m_onFirst;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
