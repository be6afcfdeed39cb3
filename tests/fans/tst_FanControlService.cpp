#include "BriskoTest.h"
#include "FakeFanTimers.h"
#include "FakePausingClock.h"
#include "FakePkexec.h"
#include "RecordingSinks.h"
#include "fans/FanControlService.h"
#include "fans/FanTerminationHook.h"
#include "fans/SmcSimulator.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

using namespace std::chrono_literals;

// The fan service on the simulator. The poll and the debounce run on fake
// timers, the SMC's pauses on a fake clock; waits are for published changes.
class tst_FanControlService : public QObject
{
    Q_OBJECT

private:
    // runner: none, or a stand-in pkexec that grants or that is dismissed.
    enum class Runner { none, granting, dismissed };

    // The service on a simulated machine; refused: the SMC refuses every
    // write from the start; refreshed: with its first reading published.
    FanControlService& make(const char* profile, Runner runner = Runner::none, bool refused = false,
                            bool refreshed = true, TerminationFlag* termination = nullptr)
    {
        FanControlEnvironment env;
        m_sim = SmcSimulator::create(QLatin1String(profile), m_clock);
        if (m_sim) {
            env.machine.transport = m_sim;
            env.machine.modelIdentifier = m_sim->modelIdentifier();
            m_sim->setWritesRefused(refused);
        }
        env.machine.clock = m_clock;
        env.fanProfile = SMCFanProfile::detect(env.machine.modelIdentifier.value_or(QStringLiteral("unknown")));
        env.hardwareKind = SMCHardwareProfile::detect(env.machine.modelIdentifier.value_or(QString()));
        if (runner != Runner::none) {
            SMCFanPrivilegedRunner::Config config;
            config.helperPath = m_pkexec->helper();
            config.pkexecPath = runner == Runner::granting ? m_pkexec->passThrough() : m_pkexec->endingWith(126);
            config.termination = m_flag.get();
            config.runtimeRisk = [this] { return m_risk; };
            env.runner = std::make_shared<SMCFanPrivilegedRunner>(config);
        }
        env.errors = m_errors;
        env.termination = termination ? termination : m_flag.get();
        env.runtimeRisk = [this] { return m_risk; };
        env.timers = m_timers->factory();
        m_service = std::make_unique<FanControlService>(env);
        if (refreshed)
            settle(m_service->refreshSnapshot());
        return *m_service;
    }
    static AppSettings settings(FanControlMode mode = FanControlMode::system)
    {
        AppSettings settings = AppSettings::defaults(QStringLiteral("/home/тест"));
        settings.fanControlMode = mode;
        return settings;
    }
    // Runs the event loop until the operation has published everything.
    static bool settle(const QFuture<void>& future)
    {
        return QTest::qWaitFor([&future] { return future.isFinished(); }, 20000);
    }
    // Lets a poll that was started publish its reading and arm the next one.
    void awaitNextPoll() { QTRY_COMPARE(m_timers->armed(), 1); }
    static std::optional<QString> text(const char* utf8) { return QString::fromUtf8(utf8); }

    std::shared_ptr<FakePausingClock> m_clock;
    std::unique_ptr<FakeFanTimers> m_timers;
    std::shared_ptr<SmcSimulator> m_sim;
    std::shared_ptr<RecordingErrorSink> m_errors;
    std::unique_ptr<TerminationFlag> m_flag;
    std::unique_ptr<FakePkexec> m_pkexec;
    std::unique_ptr<FanControlService> m_service;
    AppRuntimeGuard::Risk m_risk = AppRuntimeGuard::Risk::none;

private Q_SLOTS:
    void init()
    {
        m_clock = std::make_shared<FakePausingClock>();
        m_timers = std::make_unique<FakeFanTimers>();
        m_errors = std::make_shared<RecordingErrorSink>();
        m_flag = std::make_unique<TerminationFlag>();
        m_pkexec = std::make_unique<FakePkexec>();
        m_risk = AppRuntimeGuard::Risk::none;
    }
    void cleanup()
    {
        m_service.reset();
        m_sim.reset();
    }

    void pollsEveryTwoSecondsUntilPaused()
    {
        FanControlService& service = make("m5", Runner::none, false, false);
        QCOMPARE(service.snapshot(), CoolingSnapshot::loading());
        QVERIFY(!service.isPolling());
        QSignalSpy polling(&service, &FanControlService::isPollingChanged);
        QSignalSpy readings(&service, &FanControlService::snapshotChanged);
        service.start(settings());
        QVERIFY(service.isPolling());
        QTRY_COMPARE(readings.count(), 1);
        const CoolingSnapshot snapshot = service.snapshot();
        QCOMPARE(snapshot.maxTemperature, std::optional<double>(58.0));
        QVERIFY(snapshot.isControllable);
        QCOMPARE(snapshot.note, text("Ручной boost доступен. Используйте осторожно — при перегреве проверьте пыль и "
                                     "фоновые процессы."));
        // Each poll reads again, two seconds after the last one was handled.
        awaitNextPoll();
        m_sim->setTemperature("Tf09", 61.5);
        m_timers->advance(1999ms);
        QCOMPARE(m_timers->armed(), 1);
        m_timers->advance(1ms);
        QTRY_COMPARE(service.snapshot().maxTemperature, std::optional<double>(61.5));
        awaitNextPoll();
        service.pausePolling();
        QVERIFY(!service.isPolling());
        QCOMPARE(polling.count(), 2);
        QCOMPARE(m_timers->armed(), 0);
        m_sim->setTemperature("Tf09", 70.0);
        m_timers->advance(1h);
        QCoreApplication::processEvents();
        QCOMPARE(service.snapshot().maxTemperature, std::optional<double>(61.5));
    }

    void settingsGoInAndComeBack()
    {
        FanControlService& service = make("intel", Runner::none, false, false);
        AppSettings given = settings(FanControlMode::autoBoost);
        given.fanManualBoostPercent = 40;
        given.fanAutoBoostTempC = 90;
        given.fanAutoBoostTargetPercent = 65;
        service.start(given);
        service.pausePolling();
        AppSettings copy = settings();
        service.syncSettings(copy);
        QVERIFY(copy == given);
        service.setMode(FanControlMode::manual);
        service.setManualBoostPercent(55);
        service.setAutoBoostThresholdC(70);
        service.setAutoBoostTargetPercent(95);
        service.syncSettings(copy);
        const QList<double> values{copy.fanManualBoostPercent, copy.fanAutoBoostTempC, copy.fanAutoBoostTargetPercent};
        QCOMPARE(values, (QList<double>{55, 70, 95}));
        QCOMPARE(copy.fanControlMode, FanControlMode::manual);
    }

    void manualBoostAndRelease()
    {
        FanControlService& service = make("m1-m4");
        const FanStatusList fans = service.snapshot().fans;
        QCOMPARE(fans.size(), 2);
        // The write may finish before applyManualBoost returns: follow the flag's changes.
        QList<bool> requesting;
        connect(&service, &FanControlService::isRequestingAdminChanged, this,
                [&] { requesting.append(service.isRequestingAdmin()); });
        service.setManualBoostPercent(50);
        const QFuture<void> boost = service.applyManualBoost();
        QCOMPARE(service.mode(), FanControlMode::manual);
        QVERIFY(settle(boost));
        QCOMPARE(requesting, (QList<bool>{true, false}));
        QVERIFY(service.manualOverrideActive() && !service.lastError());
        // The reading after the boost shows the new speed.
        const FanStatus& fan = fans.at(1);
        QCOMPARE(service.snapshot().fans.at(1).currentRPM, fan.minimumRPM + (fan.maximumRPM - fan.minimumRPM) / 2);
        QVERIFY(settle(service.releaseToSystem()));
        QCOMPARE(service.mode(), FanControlMode::system);
        QVERIFY(!service.manualOverrideActive() && !service.lastError());
        QCOMPARE(service.snapshot().fans.at(1).currentRPM, fan.currentRPM);
        QVERIFY(m_errors->reports.isEmpty());
    }

    void sliderMovesWithinTheDebounceApplyOneBoost()
    {
        FanControlService& service = make("intel");
        // Not in manual mode: nothing is scheduled.
        service.scheduleManualBoost();
        QCOMPARE(m_timers->armed(), 0);
        service.setMode(FanControlMode::manual);
        QSignalSpy admin(&service, &FanControlService::isRequestingAdminChanged);
        for (int percent : {20, 30, 40, 50, 60}) {
            service.setManualBoostPercent(percent);
            service.scheduleManualBoost();
            m_timers->advance(399ms);
        }
        QCOMPARE(m_sim->writeCount("F0Md"), 0);
        m_timers->advance(1ms);
        QTRY_COMPARE(admin.count(), 2);
        QCOMPARE(std::pair(m_timers->armed(), m_sim->writeCount("F0Md")), std::pair(0, 1));
        QCOMPARE(m_sim->targetRPM(0), std::optional<int>(1200 + int(0.6 * 4600)));
    }

    void automaticBoostAtTheThreshold()
    {
        FanControlService& service = make("intel", Runner::none, false, false);
        AppSettings given = settings(FanControlMode::autoBoost);
        given.fanAutoBoostTempC = 78;
        given.fanAutoBoostTargetPercent = 85;
        service.start(given);
        awaitNextPoll();
        QVERIFY(service.snapshot().isControllable);
        QCOMPARE(m_sim->fanMode(0), 0);
        m_sim->setTemperature("TC0D", 78.0);
        m_timers->advance(2s);
        QTRY_VERIFY(service.manualOverrideActive());
        QCOMPARE(m_sim->targetRPM(0), std::optional<int>(1200 + int(0.85 * 4600)));
        // Held while the sensor stays hot: a further poll writes nothing.
        awaitNextPoll();
        const int writes = m_sim->totalWrites();
        m_timers->advance(2s);
        awaitNextPoll();
        QCOMPARE(m_sim->totalWrites(), writes);
        // sp78 holds 77.9 as 77.89…, below the threshold.
        m_sim->setTemperature("TC0D", 77.9);
        m_timers->advance(2s);
        QTRY_VERIFY(!service.manualOverrideActive());
        QCOMPARE(std::pair(m_sim->fanMode(0), m_sim->fanMode(1)), std::pair(0, 0));
        QCOMPARE(service.mode(), FanControlMode::autoBoost);
        // A slider move re-evaluates at once.
        awaitNextPoll();
        service.pausePolling();
        service.setAutoBoostThresholdC(50);
        QVERIFY(settle(service.applyAutoBoostIfNeeded()));
        QVERIFY(service.manualOverrideActive());
    }

    void automaticBoostWithoutTemperatures()
    {
        FanControlService& service = make("m5", Runner::none, false, false);
        for (const char* key : {"Tp09", "Te05", "Tf09"})
            m_sim->removeKey(key);
        service.start(settings(FanControlMode::autoBoost));
        awaitNextPoll();
        QVERIFY(service.snapshot().temperatures.isEmpty() && !service.snapshot().maxTemperature);
        QVERIFY(!service.manualOverrideActive());
        // At a threshold of 0 the missing maximum counts as 0 °C and boosts.
        service.setAutoBoostThresholdC(0);
        m_timers->advance(2s);
        QTRY_VERIFY(service.manualOverrideActive());
    }

    void boostWithoutFansIsRefused()
    {
        FanControlService& service = make("fanless");
        QVERIFY(service.snapshot().fans.isEmpty() && !service.snapshot().isControllable && !service.snapshot().note);
        QVERIFY(settle(service.applyManualBoost()));
        QCOMPARE(service.lastError(), std::optional<QString>(FanControlService::notControllableMessage));
        QCOMPARE(service.mode(), FanControlMode::system);
        QCOMPARE(m_sim->totalWrites(), 0);
        QCOMPARE(m_errors->reports.size(), 1);
        QCOMPARE(m_errors->reports.at(0).feature, AppFeature::cooling);
        QVERIFY(m_errors->reports.at(0).context.isEmpty());
        // With neither fans nor sensors the text has no final full stop.
        for (const char* key : {"Tp09", "Te05", "TB1T"})
            m_sim->removeKey(key);
        QVERIFY(settle(service.refreshSnapshot()));
        QCOMPARE(service.snapshot().note,
                 text("Датчики SMC не ответили. Перезапустите вкладку или проверьте права приложения."));
    }

    void unavailableSmc()
    {
        FanControlService& service = make("no such machine");
        CoolingSnapshot expected;
        expected.note = QStringLiteral("Apple SMC недоступен.");
        QCOMPARE(service.snapshot(), expected);
        QCOMPARE(service.lastError(),
                 text("Apple SMC недоступен. Перезагрузите Mac. На некоторых конфигурациях доступен только мониторинг."));
        QCOMPARE(m_errors->reports.size(), 1);
        QCOMPARE(m_errors->reports.at(0).errors, QStringList({QStringLiteral("Не удалось открыть Apple SMC")}));
        QCOMPARE(m_errors->reports.at(0).context, (QMap<QString, QString>{{QStringLiteral("phase"), QStringLiteral("snapshot")}}));
    }

    void writesRefusedWithoutHelper()
    {
        FanControlService& service = make("intel");
        // Writes stop working after the probe said they would; it does not run again.
        m_sim->setWritesRefused(true);
        QVERIFY(settle(service.refreshSnapshot()));
        QVERIFY(service.snapshot().isControllable);
        QCOMPARE(m_sim->writeCount("F0Tg"), 1);
        service.setManualBoostPercent(75.9);
        QVERIFY(settle(service.applyManualBoost()));
        QVERIFY(!service.manualOverrideActive() && !service.isRequestingAdmin());
        QCOMPARE(service.lastError(), std::optional<QString>(FanControlService::writeUnavailableMessage));
        QVERIFY(service.adminAlertMessage()->startsWith(QStringLiteral("Не удалось записать в SMC (")));
        QCOMPARE(m_errors->reports.size(), 1);
        QCOMPARE(m_errors->reports.at(0).errors, QStringList({FanControlService::writeUnavailableMessage}));
        QCOMPARE(m_errors->reports.at(0).context, (QMap<QString, QString>{{QStringLiteral("mode"), QStringLiteral("manual")},
                                                                          {QStringLiteral("boost_percent"), QStringLiteral("75")}}));
        // A failed release without helper has no message.
        QVERIFY(settle(service.releaseToSystem()));
        QVERIFY(!service.lastError());
        QVERIFY(!service.lastControlResult()->ok);
    }

    void helperTakesOverRefusedWrites()
    {
        FanControlService& service = make("intel", Runner::granting, true);
        QVERIFY(service.snapshot().isControllable);
        QCOMPARE(service.snapshot().note, text("Профиль Apple M1/M2. При boost macOS покажет запрос пароля "
                                               "администратора (не Terminal). Если окно не видно — сверните "
                                               "другие приложения."));
        service.setManualBoostPercent(72.5);
        QVERIFY(settle(service.applyManualBoost()));
        QVERIFY(service.manualOverrideActive() && !service.lastError());
        QVERIFY(settle(service.releaseToSystem()));
        QCOMPARE(m_pkexec->helperRuns(), QStringList({QStringLiteral("set-percent 73"), QStringLiteral("auto")}));
        // Boosted through the helper: quitting never starts it (nor its password dialog).
        QVERIFY(settle(service.applyManualBoost()));
        QVERIFY(!service.prepareForAppTermination().result());
        QCOMPARE(m_pkexec->pkexecRuns().size(), 3);
    }

    void dismissedPasswordDialog()
    {
        FanControlService& service = make("intel", Runner::dismissed, true);
        QVERIFY(settle(service.applyManualBoost()));
        QVERIFY(!service.manualOverrideActive());
        QCOMPARE(service.lastError(), text("Запрос прав администратора отменён."));
        QCOMPARE(service.adminAlertMessage(), service.lastError());
        QCOMPARE(service.mode(), FanControlMode::manual);
        QVERIFY(m_pkexec->helperRuns().isEmpty());
        QCOMPARE(m_pkexec->pkexecRuns().size(), 1);
    }

    void installLocationRiskKeepsHandsOff()
    {
        FanControlService& service = make("intel");
        const int writes = m_sim->totalWrites();
        m_risk = AppRuntimeGuard::Risk::diskImage;
        QVERIFY(settle(service.applyManualBoost()));
        QCOMPARE(service.adminAlertMessage(),
                 std::optional<QString>(AppRuntimeGuard::message(AppRuntimeGuard::Risk::diskImage)));
        QCOMPARE(service.mode(), FanControlMode::system);
        service.setMode(FanControlMode::autoBoost);
        service.setAutoBoostThresholdC(0);
        QVERIFY(settle(service.applyAutoBoostIfNeeded()));
        QVERIFY(settle(service.releaseToSystem()));
        QCOMPARE(service.mode(), FanControlMode::system);
        QCOMPARE(m_sim->totalWrites(), writes);
    }

    void quittingWhileBoostedReleasesDirectly()
    {
        FanControlService& service = make("m1-m4", Runner::granting, false, false);
        service.start(settings());
        awaitNextPoll();
        QVERIFY(settle(service.applyManualBoost()));
        QCOMPARE(m_sim->fanMode(0), 1);
        QFuture<bool> release = service.prepareForAppTermination();
        QVERIFY(m_flag->isSet() && !service.isPolling() && !service.isRequestingAdmin());
        QCOMPARE(m_timers->armed(), 0);
        QVERIFY(release.result());
        QCOMPARE(m_sim->fanMode(0), int(SmcSimulator::modeHeldBySystem));
        QCOMPARE(m_sim->value("Ftst"), std::optional<QByteArray>(QByteArray(1, '\0')));
        QVERIFY(m_pkexec->pkexecRuns().isEmpty());
        // Nothing runs any more.
        const CoolingSnapshot before = service.snapshot();
        m_sim->setTemperature("Tf09", 99.0);
        QVERIFY(settle(service.refreshSnapshot()));
        QCOMPARE(service.snapshot(), before);
        service.start(settings());
        QVERIFY(!service.isPolling());
        const int writes = m_sim->totalWrites();
        QVERIFY(settle(service.applyManualBoost()));
        QVERIFY(settle(service.releaseToSystem()));
        QCOMPARE(m_sim->totalWrites(), writes);
    }

    // Quitting the application hands boosted fans back before the event loop
    // returns, through the process-wide termination flag as the program does
    // (the signal half is tested on the brisko program). Last: the flag stays set.
    void quitReleasesBoostedFansThroughTheHook()
    {
        FanControlService& service = make("m5", Runner::none, false, true, &TerminationFlag::process());
        QVERIFY(settle(service.applyManualBoost()));
        QCOMPARE(m_sim->fanMode(0), 1);
        FanTerminationHook::install(*QCoreApplication::instance(), service, TerminationFlag::process());
        QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
        QCoreApplication::exec();
        QVERIFY(TerminationFlag::process().isSet());
        QCOMPARE(m_sim->fanMode(0), 0);
        QCOMPARE(m_sim->targetRPM(0), std::optional<int>(0));
    }
};

BRISKO_TEST(tst_FanControlService)
#include "tst_FanControlService.moc"
