#pragma once

#include "CoolingSnapshot.h"
#include "CoolingSnapshotReader.h"
#include "FanControlEnvironment.h"
#include "FanShutdownRelease.h"
#include "model/AppSettings.h"
#include "model/FanControlMode.h"

#include <QFuture>
#include <QObject>
#include <QThreadPool>

#include <functional>
#include <optional>

// The object behind the cooling screen: polls fans and temperatures while
// the screen is shown, publishes the reading, applies the fan mode (system,
// manual boost, automatic boost above a temperature) and hands the fans back
// to the system on request and when the program ends.
//
// Threads: the object and its published fields live on the thread that
// created it (the main thread); every method must be called there. SMC reads
// and direct writes run on the service's own worker threads and come back
// through queued calls; a privileged helper run blocks the main thread while
// its password dialog is up. Futures returned by the operations finish once
// everything they change has been published.
class FanControlService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(CoolingSnapshot snapshot READ snapshot NOTIFY snapshotChanged)
    Q_PROPERTY(bool isPolling READ isPolling NOTIFY isPollingChanged)
    Q_PROPERTY(bool isRequestingAdmin READ isRequestingAdmin NOTIFY isRequestingAdminChanged)
    Q_PROPERTY(std::optional<QString> lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(std::optional<QString> adminAlertMessage READ adminAlertMessage WRITE setAdminAlertMessage NOTIFY
                   adminAlertMessageChanged)
    Q_PROPERTY(FanControlMode mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(double manualBoostPercent READ manualBoostPercent WRITE setManualBoostPercent NOTIFY
                   manualBoostPercentChanged)
    Q_PROPERTY(double autoBoostThresholdC READ autoBoostThresholdC WRITE setAutoBoostThresholdC NOTIFY
                   autoBoostThresholdCChanged)
    Q_PROPERTY(double autoBoostTargetPercent READ autoBoostTargetPercent WRITE setAutoBoostTargetPercent NOTIFY
                   autoBoostTargetPercentChanged)

public:
    struct ControlResult
    {
        bool ok = false;
        std::optional<QString> message;
    };

    static inline const QString writeUnavailableMessage = QStringLiteral("Запись в SMC недоступна.");
    static inline const QString boostFailedMessage =
        QStringLiteral("Не удалось задать обороты. Дождитесь системного запроса пароля macOS.");
    static inline const QString notControllableMessage =
        QStringLiteral("Управление вентиляторами недоступно на этом Mac.");

    explicit FanControlService(FanControlEnvironment environment, QObject* parent = nullptr);
    ~FanControlService() override;

    const CoolingSnapshot& snapshot() const { return m_snapshot; }
    bool isPolling() const { return m_isPolling; }
    bool isRequestingAdmin() const { return m_isRequestingAdmin; }
    const std::optional<QString>& lastError() const { return m_lastError; }
    const std::optional<QString>& adminAlertMessage() const { return m_adminAlertMessage; }
    FanControlMode mode() const { return m_mode; }
    double manualBoostPercent() const { return m_manualBoostPercent; }
    double autoBoostThresholdC() const { return m_autoBoostThresholdC; }
    double autoBoostTargetPercent() const { return m_autoBoostTargetPercent; }
    // Fans are held at a boost this service set.
    bool manualOverrideActive() const { return m_manualOverrideActive; }
    // The outcome of the last boost or release that reached the write step.
    const std::optional<ControlResult>& lastControlResult() const { return m_lastControlResult; }

    void setAdminAlertMessage(const std::optional<QString>& message);
    void setMode(FanControlMode mode);
    void setManualBoostPercent(double percent);
    void setAutoBoostThresholdC(double celsius);
    void setAutoBoostTargetPercent(double percent);

    // Takes the four fan settings and (re)starts the poll: a reading now,
    // then one every poll interval after the previous one has been handled.
    void start(const AppSettings& settings);
    void pausePolling();
    // Writes the mode and the three values back into settings.
    void syncSettings(AppSettings& settings) const;

    // One reading, published unless the program is ending.
    QFuture<void> refreshSnapshot();
    // In manual mode: applies the manual boost once the debounce interval
    // has passed without another call.
    void scheduleManualBoost();
    QFuture<void> applyManualBoost();
    QFuture<void> applyAutoBoostIfNeeded();
    QFuture<void> releaseToSystem();
    // Sets the termination flag, stops everything, and releases the last
    // known fans directly (never through the helper). The future tells
    // whether the release wrote anything; the program waits for it before
    // it exits.
    QFuture<bool> prepareForAppTermination();

    // For the signal path, which must not touch this object.
    FanShutdownReleasePtr shutdownRelease() const { return m_shutdownRelease; }

Q_SIGNALS:
    void snapshotChanged();
    void isPollingChanged();
    void isRequestingAdminChanged();
    void lastErrorChanged();
    void adminAlertMessageChanged();
    void modeChanged();
    void manualBoostPercentChanged();
    void autoBoostThresholdCChanged();
    void autoBoostTargetPercentChanged();

private:
    using Done = std::function<void()>;

    bool isTerminating() const;
    bool hasInstallRisk() const;
    static QFuture<void> track(const std::function<void(Done)>& operation);

    void refresh(Done done);
    void pollCycle(quint64 generation);
    void autoBoostStep(Done done);
    void setAllFansTarget(const FanStatusList& fans, double percent, std::function<void(ControlResult)> done);
    void releaseFans(const FanStatusList& fans, std::function<void(ControlResult)> done);
    ControlResult fromRunner(const SMCFanPrivilegedRunner::RunResult& result) const;
    std::optional<QString> humanize(const std::optional<QString>& message) const;
    void report(const QString& message, const QMap<QString, QString>& context);

    void setSnapshot(const CoolingSnapshot& snapshot);
    void setIsPolling(bool polling);
    void setIsRequestingAdmin(bool requesting);
    void setLastError(const std::optional<QString>& error);

    FanControlEnvironment m_env;
    FanShutdownReleasePtr m_shutdownRelease;
    std::shared_ptr<CoolingSnapshotReader::WriteProbe> m_writeProbe;
    QThreadPool m_pool;
    std::unique_ptr<FanTimer> m_pollTimer;
    std::unique_ptr<FanTimer> m_debounceTimer;
    quint64 m_pollGeneration = 0;

    CoolingSnapshot m_snapshot = CoolingSnapshot::loading();
    bool m_isPolling = false;
    bool m_isRequestingAdmin = false;
    std::optional<QString> m_lastError;
    std::optional<QString> m_adminAlertMessage;
    FanControlMode m_mode = FanControlMode::system;
    double m_manualBoostPercent = 75.0;
    double m_autoBoostThresholdC = 78.0;
    double m_autoBoostTargetPercent = 85.0;
    bool m_manualOverrideActive = false;
    std::optional<ControlResult> m_lastControlResult;
};
