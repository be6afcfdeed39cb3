#include "FanControlService.h"

#include "SMCFanWriter.h"

#include "base/OffThread.h"

#include <QPromise>
#include <QtConcurrent>

#include <cmath>

namespace {

// Poll and shutdown reads, a boost and a release may all be under way at once.
constexpr int workerThreads = 3;

QString integerPart(double value)
{
    if (!std::isfinite(value)) {
        return QStringLiteral("0");
    }
    return QString::number(qint64(std::trunc(qBound(-1.0e15, value, 1.0e15))));
}

} // namespace

FanControlService::FanControlService(FanControlEnvironment environment, QObject* parent)
    : QObject(parent)
    , m_env(std::move(environment))
    , m_shutdownRelease(std::make_shared<FanShutdownRelease>(m_env.machine, m_env.fanProfile.strategy))
    , m_writeProbe(std::make_shared<CoolingSnapshotReader::WriteProbe>())
{
    m_pool.setMaxThreadCount(workerThreads);
    m_pollTimer = m_env.timers(m_env.pollInterval, [this] { pollCycle(m_pollGeneration); });
    m_debounceTimer = m_env.timers(m_env.debounceInterval, [this] { applyManualBoost(); });
}

FanControlService::~FanControlService()
{
    m_pollTimer->stop();
    m_debounceTimer->stop();
    m_pool.waitForDone();
}

bool FanControlService::isTerminating() const
{
    return m_env.termination && m_env.termination->isSet();
}

bool FanControlService::hasInstallRisk() const
{
    return m_env.runtimeRisk && m_env.runtimeRisk() != AppRuntimeGuard::Risk::none;
}

QFuture<void> FanControlService::track(const std::function<void(Done)>& operation)
{
    // A promise dropped unfinished (its object gone first) ends up cancelled
    // and finished, so nobody waits on it for ever.
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    QFuture<void> future = promise->future();
    operation([promise] { promise->finish(); });
    return future;
}

// Published fields.

void FanControlService::setSnapshot(const CoolingSnapshot& snapshot)
{
    m_shutdownRelease->setFans(snapshot.fans);
    if (m_snapshot == snapshot) {
        return;
    }
    m_snapshot = snapshot;
    Q_EMIT snapshotChanged();
}

void FanControlService::setIsPolling(bool polling)
{
    if (m_isPolling != polling) {
        m_isPolling = polling;
        Q_EMIT isPollingChanged();
    }
}

void FanControlService::setIsRequestingAdmin(bool requesting)
{
    if (m_isRequestingAdmin != requesting) {
        m_isRequestingAdmin = requesting;
        Q_EMIT isRequestingAdminChanged();
    }
}

void FanControlService::setLastError(const std::optional<QString>& error)
{
    if (m_lastError != error) {
        m_lastError = error;
        Q_EMIT lastErrorChanged();
    }
}

void FanControlService::setAdminAlertMessage(const std::optional<QString>& message)
{
    if (m_adminAlertMessage != message) {
        m_adminAlertMessage = message;
        Q_EMIT adminAlertMessageChanged();
    }
}

void FanControlService::setMode(FanControlMode mode)
{
    if (m_mode != mode) {
        m_mode = mode;
        Q_EMIT modeChanged();
    }
}

void FanControlService::setManualBoostPercent(double percent)
{
    if (m_manualBoostPercent != percent) {
        m_manualBoostPercent = percent;
        Q_EMIT manualBoostPercentChanged();
    }
}

void FanControlService::setAutoBoostThresholdC(double celsius)
{
    if (m_autoBoostThresholdC != celsius) {
        m_autoBoostThresholdC = celsius;
        Q_EMIT autoBoostThresholdCChanged();
    }
}

void FanControlService::setAutoBoostTargetPercent(double percent)
{
    if (m_autoBoostTargetPercent != percent) {
        m_autoBoostTargetPercent = percent;
        Q_EMIT autoBoostTargetPercentChanged();
    }
}

// Settings and polling.

void FanControlService::start(const AppSettings& settings)
{
    setMode(settings.fanControlMode);
    setManualBoostPercent(settings.fanManualBoostPercent);
    setAutoBoostThresholdC(settings.fanAutoBoostTempC);
    setAutoBoostTargetPercent(settings.fanAutoBoostTargetPercent);
    pausePolling();
    if (isTerminating()) {
        return;
    }
    setIsPolling(true);
    pollCycle(m_pollGeneration);
}

void FanControlService::pausePolling()
{
    ++m_pollGeneration;
    m_pollTimer->stop();
    setIsPolling(false);
}

void FanControlService::syncSettings(AppSettings& settings) const
{
    settings.fanControlMode = m_mode;
    settings.fanManualBoostPercent = m_manualBoostPercent;
    settings.fanAutoBoostTempC = m_autoBoostThresholdC;
    settings.fanAutoBoostTargetPercent = m_autoBoostTargetPercent;
}

void FanControlService::pollCycle(quint64 generation)
{
    if (generation != m_pollGeneration) {
        return;
    }
    if (isTerminating()) {
        setIsPolling(false);
        return;
    }
    refresh([this, generation] {
        // A pause or a restart while the reading was under way ends this loop;
        // the reading itself has been published all the same.
        if (generation != m_pollGeneration) {
            return;
        }
        if (isTerminating()) {
            setIsPolling(false);
            return;
        }
        autoBoostStep([this, generation] {
            if (generation != m_pollGeneration) {
                return;
            }
            if (isTerminating()) {
                setIsPolling(false);
                return;
            }
            m_pollTimer->start();
        });
    });
}

// Reading.

QFuture<void> FanControlService::refreshSnapshot()
{
    return track([this](Done done) { refresh(std::move(done)); });
}

void FanControlService::refresh(Done done)
{
    if (isTerminating()) {
        done();
        return;
    }
    const SmcMachine machine = m_env.machine;
    const SMCFanProfile profile = m_env.fanProfile;
    const SMCFanPrivilegedRunnerPtr runner = m_env.runner;
    const std::shared_ptr<CoolingSnapshotReader::WriteProbe> probe = m_writeProbe;
    OffThread::run(
        this,
        [machine, profile, runner, probe] {
            return CoolingSnapshotReader::read(machine, profile, runner && runner->isAvailable(), *probe);
        },
        [this, done = std::move(done)](FanControlService&, CoolingSnapshotReader::Reading reading) {
            if (!isTerminating()) {
                setSnapshot(reading.snapshot);
                if (reading.error) {
                    setLastError(humanize(reading.error).value_or(*reading.error));
                    report(*reading.error, {{QStringLiteral("phase"), QStringLiteral("snapshot")}});
                }
            }
            done();
        },
        &m_pool);
}

// Writing.

std::optional<QString> FanControlService::humanize(const std::optional<QString>& message) const
{
    return SMCHardwareProfile::humanizeError(message, m_env.hardwareKind);
}

void FanControlService::report(const QString& message, const QMap<QString, QString>& context)
{
    if (m_env.errors) {
        m_env.errors->report(AppFeature::cooling, message, context);
    }
}

FanControlService::ControlResult FanControlService::fromRunner(const SMCFanPrivilegedRunner::RunResult& result) const
{
    if (result.ok()) {
        return {true, std::nullopt};
    }
    return {false, result.error->description()};
}

void FanControlService::setAllFansTarget(const FanStatusList& fans, double percent,
                                         std::function<void(ControlResult)> done)
{
    const SmcMachine machine = m_env.machine;
    const SMCFanProfile::WriteStrategy strategy = m_env.fanProfile.strategy;
    OffThread::run(
        this,
        [machine, strategy, fans, percent] { return SMCFanWriter::setAllFansTarget(machine, strategy, fans, percent); },
        [this, percent, done = std::move(done)](FanControlService&, bool written) {
            if (written) {
                done({true, std::nullopt});
            } else if (m_env.runner && m_env.runner->isAvailable()) {
                done(fromRunner(m_env.runner->setFanPercent(percent)));
            } else {
                done({false, writeUnavailableMessage});
            }
        },
        &m_pool);
}

void FanControlService::releaseFans(const FanStatusList& fans, std::function<void(ControlResult)> done)
{
    // Nothing to hand back: no reason to ask for an administrator.
    if (fans.isEmpty()) {
        done({true, std::nullopt});
        return;
    }
    const SmcMachine machine = m_env.machine;
    const SMCFanProfile::WriteStrategy strategy = m_env.fanProfile.strategy;
    OffThread::run(
        this, [machine, strategy, fans] { return SMCFanWriter::releaseFans(machine, strategy, fans); },
        [this, done = std::move(done)](FanControlService&, bool released) {
            if (released) {
                done({true, std::nullopt});
            } else if (m_env.runner && m_env.runner->isAvailable()) {
                done(fromRunner(m_env.runner->releaseFans()));
            } else {
                done({false, std::nullopt});
            }
        },
        &m_pool);
}

void FanControlService::autoBoostStep(Done done)
{
    if (m_mode != FanControlMode::autoBoost || !m_snapshot.isControllable || m_snapshot.fans.isEmpty()
        || hasInstallRisk() || isTerminating()) {
        done();
        return;
    }
    const double hottest = m_snapshot.maxTemperature.value_or(0.0);
    if (hottest < m_autoBoostThresholdC && m_manualOverrideActive) {
        releaseFans(m_snapshot.fans, [this, done = std::move(done)](ControlResult result) {
            m_lastControlResult = result;
            if (result.ok) {
                m_manualOverrideActive = false;
                setLastError(std::nullopt);
            }
            done();
        });
        return;
    }
    if (hottest >= m_autoBoostThresholdC && !m_manualOverrideActive) {
        setAllFansTarget(m_snapshot.fans, m_autoBoostTargetPercent, [this, done = std::move(done)](ControlResult result) {
            m_lastControlResult = result;
            m_manualOverrideActive = result.ok;
            if (result.message) {
                setLastError(result.message);
            }
            done();
        });
        return;
    }
    done();
}

QFuture<void> FanControlService::applyAutoBoostIfNeeded()
{
    if (m_mode != FanControlMode::autoBoost || !m_snapshot.isControllable || m_snapshot.fans.isEmpty()
        || hasInstallRisk() || isTerminating()) {
        return QtFuture::makeReadyFuture();
    }
    return track([this](Done done) { autoBoostStep(std::move(done)); });
}

void FanControlService::scheduleManualBoost()
{
    if (m_mode != FanControlMode::manual) {
        return;
    }
    m_debounceTimer->start();
}

QFuture<void> FanControlService::applyManualBoost()
{
    if (hasInstallRisk()) {
        setAdminAlertMessage(AppRuntimeGuard::message(m_env.runtimeRisk()));
        return QtFuture::makeReadyFuture();
    }
    if (isTerminating()) {
        return QtFuture::makeReadyFuture();
    }
    if (!m_snapshot.isControllable || m_snapshot.fans.isEmpty()) {
        QString message = notControllableMessage;
        if (m_snapshot.fans.isEmpty() && m_snapshot.temperatures.isEmpty()) {
            message.chop(1);
        }
        setLastError(message);
        report(message, {});
        return QtFuture::makeReadyFuture();
    }
    setMode(FanControlMode::manual);
    return track([this](Done done) {
        setIsRequestingAdmin(true);
        const double percent = m_manualBoostPercent;
        setAllFansTarget(m_snapshot.fans, percent, [this, percent, done = std::move(done)](ControlResult result) {
            m_lastControlResult = result;
            m_manualOverrideActive = result.ok;
            setLastError(result.message);
            if (!result.ok) {
                setAdminAlertMessage(humanize(result.message).value_or(boostFailedMessage));
                if (result.message) {
                    report(*result.message, {{QStringLiteral("mode"), QStringLiteral("manual")},
                                             {QStringLiteral("boost_percent"), integerPart(percent)}});
                }
                setIsRequestingAdmin(false);
                done();
                return;
            }
            refresh([this, done] {
                setIsRequestingAdmin(false);
                done();
            });
        });
    });
}

QFuture<void> FanControlService::releaseToSystem()
{
    if (hasInstallRisk()) {
        setMode(FanControlMode::system);
        m_manualOverrideActive = false;
        return QtFuture::makeReadyFuture();
    }
    if (isTerminating()) {
        setMode(FanControlMode::system);
        return QtFuture::makeReadyFuture();
    }
    setMode(FanControlMode::system);
    return track([this](Done done) {
        setIsRequestingAdmin(true);
        releaseFans(m_snapshot.fans, [this, done = std::move(done)](ControlResult result) {
            m_lastControlResult = result;
            m_manualOverrideActive = false;
            setLastError(result.message);
            refresh([this, done] {
                setIsRequestingAdmin(false);
                done();
            });
        });
    });
}

QFuture<bool> FanControlService::prepareForAppTermination()
{
    if (m_env.termination) {
        m_env.termination->set();
    }
    ++m_pollGeneration;
    m_pollTimer->stop();
    m_debounceTimer->stop();
    setIsPolling(false);
    setIsRequestingAdmin(false);
    const FanShutdownReleasePtr release = m_shutdownRelease;
    if (release->fans().isEmpty()) {
        return QtFuture::makeReadyFuture(false);
    }
    return QtConcurrent::run(&m_pool, [release] { return release->releaseNow(); });
}
