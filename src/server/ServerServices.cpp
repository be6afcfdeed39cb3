#include "ServerServices.h"

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
    QMutexLocker lock(&mutex);
    std::shared_ptr<ErrorReporter> reporter = reporterInstance.lock();
    if (!reporter) {
        reporter = std::make_shared<ErrorReporter>(std::make_shared<ErrorReportingService>(
            defaults, clock, ServerHTTPClient(HttpTransport::processInstance(), RateLimitGate::shared()),
            ClientInfo::current(), ErrorReporter::defaultCrashFilePath()));
        reporterInstance = reporter;
    }
    return reporter;
}
