#pragma once

#include "TerminationFlag.h"

#include <functional>

// Makes SIGTERM, SIGINT and SIGHUP end the program the way quitting does:
// the handler sets the termination flag at once, and a watcher thread then
// runs the given action (the direct fan release) before the signal's default
// action ends the process. The action runs on the watcher thread, so it
// works even while the main thread waits on a password dialog; it must only
// touch thread-safe state.
class TerminationSignalGuard
{
public:
    using Action = std::function<void(int signal)>;

    // Process-wide, like signal dispositions; only the first call installs.
    // False when the guard could not be set up or was already installed.
    static bool install(TerminationFlag& flag, Action action);
};
