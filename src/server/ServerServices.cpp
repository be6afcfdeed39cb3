#include "ServerServices.h"

#include "model/AppSettings.h"
#include "platform/BackgroundContinuation.h"
#include "platform/PlatformPaths.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QMutex>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {
QMutex mutex;
std::weak_ptr<AnalyticsService> analyticsInstance;
std::weak_ptr<ErrorReporter> reporterInstance;
bool retaining = false;
std::vector<std::shared_ptr<void>> retained;
// The continuation's sends end after their grace; this only stops one that
// a lock left behind by another thread would hang.
constexpr std::chrono::seconds continuationLimit{2};

struct LiveServices
{
    std::shared_ptr<AnalyticsService> usage;
    std::shared_ptr<ErrorReporter> reporter;
};

// What is still to be sent, once the reports handed over from other threads
// are stored.
LiveServices liveServices()
{
    QCoreApplication::processEvents();
    QMutexLocker lock(&mutex);
    return {analyticsInstance.lock(), reporterInstance.lock()};
}

// Runs the event loop until every future has finished or grace has passed.
void awaitSends(const QList<QFuture<void>>& sends, std::chrono::milliseconds grace)
{
    const auto allFinished = [&sends] {
        return std::all_of(sends.begin(), sends.end(), [](const QFuture<void>& send) { return send.isFinished(); });
    };
    if (allFinished()) {
        return;
    }
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    std::vector<std::unique_ptr<QFutureWatcher<void>>> watchers;
    for (const QFuture<void>& send : sends) {
        auto watcher = std::make_unique<QFutureWatcher<void>>();
        QObject::connect(watcher.get(), &QFutureWatcherBase::finished, &loop, [&loop, &allFinished] {
            if (allFinished()) {
                loop.quit();
            }
        });
        watcher->setFuture(send);
        watchers.push_back(std::move(watcher));
    }
    deadline.start(grace);
    if (!allFinished()) {
        loop.exec();
    }
}

AppSettings storedSettings(DefaultsStore& defaults)
{
    const std::optional<QByteArray> stored = defaults.data(AppSettings::storeKey);
    return AppSettings::fromJson(stored.value_or(QByteArray()))
        .value_or(AppSettings::defaults(PlatformPaths::home().toString()));
}

// Under the lock.
void retain(std::shared_ptr<void> service)
{
    if (retaining) {
        retained.push_back(std::move(service));
    }
}
} // namespace

std::shared_ptr<AnalyticsService> ServerServices::analytics(const DefaultsStorePtr& defaults,
                                                            const DefaultsStorePtr& queues, const ClockPtr& clock,
                                                            QPointer<HttpTransport> transport,
                                                            std::shared_ptr<RateLimitGate> gate)
{
    QMutexLocker lock(&mutex);
    std::shared_ptr<AnalyticsService> service = analyticsInstance.lock();
    if (!service) {
        gate->persistIn(defaults);
        service = std::make_shared<AnalyticsService>(
            defaults, clock, ServerHTTPClient(std::move(transport), std::move(gate)), ClientInfo::current(),
            queues);
        service->setShortLivedProcess(retaining);
        analyticsInstance = service;
        retain(service);
    }
    return service;
}

std::shared_ptr<ErrorReporter> ServerServices::errorReporter(const DefaultsStorePtr& defaults,
                                                             const DefaultsStorePtr& queues, const ClockPtr& clock,
                                                             QPointer<HttpTransport> transport,
                                                             std::shared_ptr<RateLimitGate> gate)
{
    const std::shared_ptr<AnalyticsService> usage = analytics(defaults, queues, clock, transport, gate);
    QMutexLocker lock(&mutex);
    std::shared_ptr<ErrorReporter> reporter = reporterInstance.lock();
    if (!reporter) {
        reporter = std::make_shared<ErrorReporter>(std::make_shared<ErrorReportingService>(
            defaults, clock, ServerHTTPClient(std::move(transport), std::move(gate)), usage->clientInfo(),
            ErrorReporter::defaultCrashFilePath()));
        reporterInstance = reporter;
        retain(reporter);
        // Configured at once from the stored settings, so that a run without
        // launch duties (the command line) reports too and sends what an
        // earlier run left; the launch flow configures it again.
        reporter->configure(storedSettings(*defaults), usage->anonymousId());
    }
    return reporter;
}

void ServerServices::startShortLivedProcess()
{
    QMutexLocker lock(&mutex);
    retaining = true;
}

void ServerServices::finishSends(RateLimitGate& gate, std::chrono::milliseconds grace)
{
    const auto [usage, reporter] = liveServices();
    QList<QFuture<void>> sends;
    if (usage) {
        sends.append(usage->whenIdle());
    }
    if (reporter) {
        sends.append(reporter->service()->whenIdle());
    }
    awaitSends(sends, grace);
    // What was not delivered is stored before the process may end (usage
    // events are on disk from the moment they are tracked).
    if (reporter) {
        reporter->service()->waitForListWrites();
    }
    gate.abandonUnanswered();
    std::vector<std::shared_ptr<void>> released;
    {
        QMutexLocker lock(&mutex);
        retaining = false;
        released.swap(retained);
    }
}

void ServerServices::finishSendsBeyondExit(RateLimitGate& gate, std::chrono::milliseconds grace)
{
    const auto [usage, reporter] = liveServices();
    const bool inFlight = (usage && usage->isFlushing()) || (reporter && reporter->service()->isFlushing());
    // A sender of an earlier command still sending the queue would post the
    // same events: they wait for a later command.
    std::shared_ptr<void> claim;
    if (usage && usage->hasDeferredFlush()) {
        claim = usage->claimSending();
    }
    if (claim && !inFlight) {
        // The new sender takes the claim itself. Should a later command's
        // sender take it first, that one sends these events too.
        claim.reset();
        if (BackgroundContinuation::startAfterExit({}, {usageSenderArgument.toUtf8()})) {
            finishSends(gate, grace);
            return;
        }
        claim = usage->claimSending();
    }
    // The copy inherits the claim and holds it until it ends.
    const bool usageWaits = claim != nullptr;
    auto side = BackgroundContinuation::Side::unavailable;
    if (usageWaits || inFlight) {
        // The copy has this thread only: the error lists' writer finishes here.
        if (reporter) {
            reporter->service()->waitForListWrites();
        }
        side = BackgroundContinuation::split(continuationLimit);
        if (side == BackgroundContinuation::Side::caller) {
            return;
        }
    }
    if (usageWaits) {
        usage->flushDeferred();
    }
    finishSends(gate, grace);
    if (side == BackgroundContinuation::Side::continuation) {
        std::_Exit(0);
    }
}

void ServerServices::sendQueuedUsage(const DefaultsStorePtr& defaults, const DefaultsStorePtr& queues,
                                     const ClockPtr& clock, QPointer<HttpTransport> transport,
                                     std::shared_ptr<RateLimitGate> gate, std::chrono::milliseconds grace)
{
    BackgroundContinuation::endAfter(continuationLimit);
    RateLimitGate& hosts = *gate;
    const std::shared_ptr<AnalyticsService> usage = analytics(defaults, queues, clock, std::move(transport), std::move(gate));
    // Released only once what the server took has left the queue.
    if (const std::shared_ptr<void> claim = usage->claimSending()) {
        // As the settings are now: events are not sent once analytics is off.
        const AppSettings settings = storedSettings(*defaults);
        usage->flush(settings.analyticsEndpoint, settings.analyticsEnabled);
        finishSends(hosts, grace);
    }
}
