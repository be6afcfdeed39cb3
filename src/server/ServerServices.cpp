#include "ServerServices.h"

#include "app/AppSettings.h"
#include "app/AppState.h"
#include "platform/PlatformPaths.h"

#include <QMutex>

namespace {
QMutex mutex;
std::weak_ptr<AnalyticsService> analyticsInstance;
std::weak_ptr<ErrorReporter> reporterInstance;
} // namespace

std::shared_ptr<AnalyticsService> ServerServices::analytics(const DefaultsStorePtr& defaults, const ClockPtr& clock)
{
    QMutexLocker lock(&mutex);
    std::shared_ptr<AnalyticsService> service = analyticsInstance.lock();
    if (!service) {
        service = std::make_shared<AnalyticsService>(
            defaults, clock, ServerHTTPClient(HttpTransport::processInstance(), RateLimitGate::shared()),
            ClientInfo::current());
        analyticsInstance = service;
    }
    return service;
}

std::shared_ptr<ErrorReporter> ServerServices::errorReporter(const DefaultsStorePtr& defaults, const ClockPtr& clock)
{
    const QString anonymousId = analytics(defaults, clock)->anonymousId();
    QMutexLocker lock(&mutex);
    std::shared_ptr<ErrorReporter> reporter = reporterInstance.lock();
    if (!reporter) {
        reporter = std::make_shared<ErrorReporter>(std::make_shared<ErrorReportingService>(
            defaults, clock, ServerHTTPClient(HttpTransport::processInstance(), RateLimitGate::shared()),
            ClientInfo::current(), ErrorReporter::defaultCrashFilePath()));
        reporterInstance = reporter;
        // Configured at once from the stored settings, so that a run without
        // launch duties (the command line) reports too and sends what an
        // earlier run left; the launch flow configures it again.
        const std::optional<QByteArray> stored = defaults->data(AppState::settingsKey);
        const AppSettings settings = AppSettings::fromJson(stored.value_or(QByteArray()))
                                         .value_or(AppSettings::defaults(PlatformPaths::home().toString()));
        reporter->configure(settings, anonymousId);
    }
    return reporter;
}
