#pragma once

#include "FanControlService.h"

#include <QCoreApplication>

#include <functional>

// Keeps a fan boost from outliving the program: when the application is
// about to quit, the service's termination preparation runs and the quit
// waits for its direct release; on SIGTERM, SIGINT and SIGHUP the last known
// fans are released directly from the signal watcher thread (never through
// the helper), then the signal ends the process.
class FanTerminationHook
{
public:
    // afterSignalRelease (optional) hears, on the watcher thread, whether the
    // release after a signal wrote anything.
    static void install(QCoreApplication& application, FanControlService& service, TerminationFlag& flag,
                        std::function<void(bool released)> afterSignalRelease = {});
};
