#pragma once

#include <QFuture>
#include <QString>

#include <functional>

class AdService;

// What the application state's launch duties reach beyond itself. The
// program passes the real services; tests pass recording stand-ins. Any
// member may be empty: that duty is then skipped.
struct LaunchDuties
{
    // Makes uncaught exceptions and fatal signals leave a report for the next launch.
    std::function<void()> installCrashHandler;
    // The banner service; it is started with settings().adsConfigURL.
    AdService* ads = nullptr;
    // Sends the queued usage events; the future finishes when each was tried once.
    std::function<QFuture<void>(const QString& endpoint, bool enabled)> flushAnalytics;
    // Asks the maker's server for a newer version.
    std::function<QFuture<void>(const QString& updateCheckURL)> checkForUpdates;
};
