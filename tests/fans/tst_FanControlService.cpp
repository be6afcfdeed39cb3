#include "BriskoTest.h"
#include "FakePausingClock.h"
#include "FakePkexec.h"
#include "RecordingErrorSink.h"
#include "fans/FanControlService.h"
#include "fans/SmcSimulator.h"

#include <QSignalSpy>
#include <QtTest>

using namespace std::chrono_literals;

// The fan service on the simulator: polling, the three modes, failures and
// the end of the program. Intervals are short and the SMC's own pauses run on
// a fake clock; waits are for published changes only.
class tst_FanControlService : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<FakePausingClock> m_clock;
    std::shared_ptr<SmcSimulator> m_sim;
    std::shared_ptr<RecordingErrorSink> m_errors;
    std::unique_ptr<TerminationFlag> m_flag;
    std::unique_ptr<FakePkexec> m_pkexec;
    AppRuntimeGuard::Risk m_risk = AppRuntimeGuard::Risk::none;

    // runner: none, or a stand-in pkexec that grants or that is dismissed.
    enum class Runner { none, granting, dismissed };

    FanControlEnvironment environment(const QString& profile, Runner runner = Runner::none)
    {
        FanControlEnvironment env;
        m_sim = SmcSimulator::create(profile, m_clock);
        if (m_sim) {
            env.machine.transport = m_sim;
            env.machine.modelIdentifier = m_sim->modelIdentifier();
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
        env.termination = m_flag.get();
        env.runtimeRisk = [this] { return m_risk; };
        env.pollInterval = 5ms;
        env.debounceInterval = 40ms;
        return env;
    }

    // Runs the event loop until the operation has published everything.
    static bool settle(const QFuture<void>& future)
    {
        QDeadlineTimer deadline(20000);
        while (!future.isFinished() && !deadline.hasExpired()) {
            QTest::qWait(1);
        }
        return future.isFinished();
    }

private Q_SLOTS:
    void init()
    {
        m_clock = std::make_shared<FakePausingClock>();
        m_errors = std::make_shared<RecordingErrorSink>();
        m_flag = std::make_unique<TerminationFlag>();
        m_pkexec = std::make_unique<FakePkexec>();
        m_risk = AppRuntimeGuard::Risk::none;
    }
    void cleanup() { m_sim.reset(); }

    void startsLoadingAndSystemControlled();
    void pollingPublishesReadingsUntilPaused();
    void settingsGoInAndComeBack();
    void manualBoostAndRelease_data();
    void manualBoostAndRelease();
    void sliderMovesWithinTheDebounceApplyOneBoost();
    void automaticBoostAtTheThreshold();
    void automaticBoostWithoutTemperatures();
    void boostWithoutFansIsRefused();
    void unavailableSmc();
    void writesRefusedWithoutHelper();
    void helperTakesOverRefusedWrites();
    void dismissedPasswordDialog();
    void writeProbeRunsOnce();
    void installLocationRiskKeepsHandsOff();
    void quittingWhileBoostedReleasesDirectly();
    void quittingNeverStartsTheHelper();
};

void tst_FanControlService::startsLoadingAndSystemControlled()
{
    FanControlService service(environment(QStringLiteral("intel")));
    QCOMPARE(service.snapshot(), CoolingSnapshot::loading());
    QCOMPARE(service.snapshot().note, std::optional<QString>(QStringLiteral("Загрузка данных SMC…")));
    QVERIFY(!service.isPolling());
    QVERIFY(!service.isRequestingAdmin());
    QVERIFY(!service.lastError());
    QVERIFY(!service.adminAlertMessage());
    QCOMPARE(service.mode(), FanControlMode::system);
    QCOMPARE(service.manualBoostPercent(), 75.0);
    QCOMPARE(service.autoBoostThresholdC(), 78.0);
    QCOMPARE(service.autoBoostTargetPercent(), 85.0);
    QVERIFY(!service.manualOverrideActive());
}

void tst_FanControlService::pollingPublishesReadingsUntilPaused()
{
    FanControlService service(environment(QStringLiteral("m5")));
    QSignalSpy polling(&service, &FanControlService::isPollingChanged);
    QSignalSpy readings(&service, &FanControlService::snapshotChanged);
    service.start(AppSettings::defaults(QStringLiteral("/home/тест")));
    QVERIFY(service.isPolling());
    QTRY_VERIFY(readings.count() >= 1);

    const CoolingSnapshot snapshot = service.snapshot();
    QCOMPARE(snapshot.fans.size(), 1);
    QCOMPARE(snapshot.temperatures.size(), 3);
    QCOMPARE(snapshot.maxTemperature, std::optional<double>(58.0));
    QVERIFY(snapshot.isControllable);
    QCOMPARE(snapshot.note, std::optional<QString>(QStringLiteral(
                                "Ручной boost доступен. Используйте осторожно — при перегреве проверьте пыль и "
                                "фоновые процессы.")));

    // Each poll reads again: a change in the controller shows up.
    m_sim->setTemperature("Tf09", 61.5);
    QTRY_COMPARE(service.snapshot().maxTemperature, std::optional<double>(61.5));

    service.pausePolling();
    QVERIFY(!service.isPolling());
    QCOMPARE(polling.count(), 2);
    m_sim->setTemperature("Tf09", 70.0);
    QTest::qWait(100);
    QVERIFY(service.snapshot().maxTemperature != std::optional<double>(70.0));
}

void tst_FanControlService::settingsGoInAndComeBack()
{
    FanControlService service(environment(QStringLiteral("intel")));
    AppSettings settings = AppSettings::defaults(QStringLiteral("/home/u"));
    settings.fanControlMode = FanControlMode::autoBoost;
    settings.fanManualBoostPercent = 40;
    settings.fanAutoBoostTempC = 90;
    settings.fanAutoBoostTargetPercent = 65;
    service.start(settings);
    QCOMPARE(service.mode(), FanControlMode::autoBoost);
    QCOMPARE(service.manualBoostPercent(), 40.0);
    QCOMPARE(service.autoBoostThresholdC(), 90.0);
    QCOMPARE(service.autoBoostTargetPercent(), 65.0);
    service.pausePolling();

    service.setMode(FanControlMode::manual);
    service.setManualBoostPercent(55);
    service.setAutoBoostThresholdC(70);
    service.setAutoBoostTargetPercent(95);
    AppSettings copy = AppSettings::defaults(QStringLiteral("/home/u"));
    service.syncSettings(copy);
    QCOMPARE(copy.fanControlMode, FanControlMode::manual);
    QCOMPARE(copy.fanManualBoostPercent, 55.0);
    QCOMPARE(copy.fanAutoBoostTempC, 70.0);
    QCOMPARE(copy.fanAutoBoostTargetPercent, 95.0);
    QCOMPARE(copy.archivePath, settings.archivePath);
}

void tst_FanControlService::manualBoostAndRelease_data()
{
    QTest::addColumn<QString>("profile");
    QTest::newRow("intel") << "intel";
    QTest::newRow("m1-m4") << "m1-m4";
    QTest::newRow("m5") << "m5";
}

void tst_FanControlService::manualBoostAndRelease()
{
    QFETCH(QString, profile);
    FanControlService service(environment(profile));
    QVERIFY(settle(service.refreshSnapshot()));
    const FanStatusList fans = service.snapshot().fans;
    QVERIFY(!fans.isEmpty());

    QSignalSpy admin(&service, &FanControlService::isRequestingAdminChanged);
    // The write may finish before applyManualBoost returns, so the flag is
    // followed through its changes rather than looked at once.
    QList<bool> requesting;
    connect(&service, &FanControlService::isRequestingAdminChanged, this,
            [&] { requesting.append(service.isRequestingAdmin()); });
    service.setManualBoostPercent(50);
    const QFuture<void> boost = service.applyManualBoost();
    QCOMPARE(service.mode(), FanControlMode::manual);
    QVERIFY(settle(boost));
    QVERIFY(!service.isRequestingAdmin());
    QCOMPARE(admin.count(), 2);
    QCOMPARE(requesting, (QList<bool>{true, false}));
    QVERIFY(service.manualOverrideActive());
    QVERIFY(!service.lastError());
    for (const FanStatus& fan : fans) {
        const int expected = fan.minimumRPM + (fan.maximumRPM - fan.minimumRPM) / 2;
        QCOMPARE(m_sim->fanMode(fan.id), 1);
        QCOMPARE(m_sim->targetRPM(fan.id), std::optional<int>(expected));
        // The reading after the boost shows the new speed.
        QCOMPARE(service.snapshot().fans.at(fan.id).currentRPM, expected);
    }

    QVERIFY(settle(service.releaseToSystem()));
    QCOMPARE(service.mode(), FanControlMode::system);
    QVERIFY(!service.manualOverrideActive());
    QVERIFY(!service.lastError());
    for (const FanStatus& fan : fans) {
        QVERIFY(m_sim->fanMode(fan.id) != 1);
        QCOMPARE(service.snapshot().fans.at(fan.id).currentRPM, fan.currentRPM);
    }
    QVERIFY(m_errors->reports().isEmpty());
}

void tst_FanControlService::sliderMovesWithinTheDebounceApplyOneBoost()
{
    FanControlService service(environment(QStringLiteral("intel")));
    QVERIFY(settle(service.refreshSnapshot()));
    // Not in manual mode: nothing is scheduled.
    service.scheduleManualBoost();
    QTest::qWait(120);
    QCOMPARE(m_sim->writeCount("F0Md"), 0);

    service.setMode(FanControlMode::manual);
    QSignalSpy admin(&service, &FanControlService::isRequestingAdminChanged);
    for (int percent : {20, 30, 40, 50, 60}) {
        service.setManualBoostPercent(percent);
        service.scheduleManualBoost();
    }
    QTRY_COMPARE(admin.count(), 2);
    QTest::qWait(120);
    QCOMPARE(admin.count(), 2);
    QCOMPARE(m_sim->writeCount("F0Md"), 1);
    QCOMPARE(m_sim->targetRPM(0), std::optional<int>(1200 + int(0.6 * 4600)));
}

void tst_FanControlService::automaticBoostAtTheThreshold()
{
    FanControlService service(environment(QStringLiteral("intel")));
    AppSettings settings = AppSettings::defaults(QStringLiteral("/home/u"));
    settings.fanControlMode = FanControlMode::autoBoost;
    settings.fanAutoBoostTempC = 78;
    settings.fanAutoBoostTargetPercent = 85;
    service.start(settings);
    QTRY_VERIFY(service.snapshot().isControllable);
    QTest::qWait(50);
    QCOMPARE(m_sim->fanMode(0), 0);

    m_sim->setTemperature("TC0D", 78.0);
    QTRY_VERIFY(service.manualOverrideActive());
    QCOMPARE(m_sim->fanMode(0), 1);
    QCOMPARE(m_sim->targetRPM(0), std::optional<int>(1200 + int(0.85 * 4600)));
    QCOMPARE(m_sim->targetRPM(1), std::optional<int>(1200 + int(0.85 * 4800)));
    // Held while the sensor stays hot: no new writes.
    const int writes = m_sim->totalWrites();
    QTest::qWait(60);
    QCOMPARE(m_sim->totalWrites(), writes);

    // sp78 holds 77.9 as 77.89…, below the threshold.
    m_sim->setTemperature("TC0D", 77.9);
    QTRY_VERIFY(!service.manualOverrideActive());
    QCOMPARE(m_sim->fanMode(0), 0);
    QCOMPARE(m_sim->fanMode(1), 0);
    QCOMPARE(service.mode(), FanControlMode::autoBoost);

    // A slider move re-evaluates at once.
    service.pausePolling();
    service.setAutoBoostThresholdC(50);
    QVERIFY(settle(service.applyAutoBoostIfNeeded()));
    QVERIFY(service.manualOverrideActive());
}

void tst_FanControlService::automaticBoostWithoutTemperatures()
{
    FanControlService service(environment(QStringLiteral("m5")));
    for (const char* key : {"Tp09", "Te05", "Tf09"}) {
        m_sim->removeKey(key);
    }
    AppSettings settings = AppSettings::defaults(QStringLiteral("/home/u"));
    settings.fanControlMode = FanControlMode::autoBoost;
    QSignalSpy readings(&service, &FanControlService::snapshotChanged);
    service.start(settings);
    QTRY_VERIFY(readings.count() >= 1);
    QVERIFY(service.snapshot().temperatures.isEmpty());
    QVERIFY(!service.snapshot().maxTemperature);
    QTest::qWait(60);
    QVERIFY(!service.manualOverrideActive());
    QCOMPARE(m_sim->fanMode(0), 0);

    // At a threshold of 0 the missing maximum counts as 0 °C and boosts.
    service.setAutoBoostThresholdC(0);
    QTRY_VERIFY(service.manualOverrideActive());
}

void tst_FanControlService::boostWithoutFansIsRefused()
{
    FanControlService service(environment(QStringLiteral("fanless")));
    QVERIFY(settle(service.refreshSnapshot()));
    QVERIFY(service.snapshot().fans.isEmpty());
    QVERIFY(!service.snapshot().isControllable);
    QVERIFY(!service.snapshot().note);
    QVERIFY(settle(service.applyManualBoost()));
    QCOMPARE(service.lastError(),
             std::optional<QString>(QStringLiteral("Управление вентиляторами недоступно на этом Mac.")));
    QCOMPARE(service.mode(), FanControlMode::system);
    QCOMPARE(m_sim->totalWrites(), 0);
    const QList<RecordingErrorSink::Report> reports = m_errors->reports();
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports.at(0).feature, AppFeature::cooling);
    QVERIFY(reports.at(0).context.isEmpty());

    // With neither fans nor sensors the text has no final full stop.
    for (const char* key : {"Tp09", "Te05", "TB1T"}) {
        m_sim->removeKey(key);
    }
    QVERIFY(settle(service.refreshSnapshot()));
    QCOMPARE(service.snapshot().note,
             std::optional<QString>(
                 QStringLiteral("Датчики SMC не ответили. Перезапустите вкладку или проверьте права приложения.")));
    QVERIFY(settle(service.applyManualBoost()));
    QCOMPARE(service.lastError(),
             std::optional<QString>(QStringLiteral("Управление вентиляторами недоступно на этом Mac")));
}

void tst_FanControlService::unavailableSmc()
{
    FanControlService service(environment(QStringLiteral("no such machine")));
    QVERIFY(settle(service.refreshSnapshot()));
    CoolingSnapshot expected;
    expected.note = QStringLiteral("Apple SMC недоступен.");
    QCOMPARE(service.snapshot(), expected);
    QCOMPARE(service.lastError(),
             std::optional<QString>(QStringLiteral(
                 "Apple SMC недоступен. Перезагрузите Mac. На некоторых конфигурациях доступен только мониторинг.")));
    const QList<RecordingErrorSink::Report> reports = m_errors->reports();
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports.at(0).message, QStringLiteral("Не удалось открыть Apple SMC"));
    QCOMPARE(reports.at(0).context, (QMap<QString, QString>{{QStringLiteral("phase"), QStringLiteral("snapshot")}}));
}

void tst_FanControlService::writesRefusedWithoutHelper()
{
    FanControlService service(environment(QStringLiteral("intel")));
    QVERIFY(settle(service.refreshSnapshot()));
    QVERIFY(service.snapshot().isControllable);
    // Writes stop working after the probe said they would.
    m_sim->setWritesRefused(true);
    service.setManualBoostPercent(75.9);
    QVERIFY(settle(service.applyManualBoost()));
    QVERIFY(!service.manualOverrideActive());
    QCOMPARE(service.lastError(), std::optional<QString>(QStringLiteral("Запись в SMC недоступна.")));
    QVERIFY(service.adminAlertMessage()->startsWith(QStringLiteral("Не удалось записать в SMC (")));
    QVERIFY(!service.isRequestingAdmin());
    const QList<RecordingErrorSink::Report> reports = m_errors->reports();
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports.at(0).message, QStringLiteral("Запись в SMC недоступна."));
    QCOMPARE(reports.at(0).context, (QMap<QString, QString>{{QStringLiteral("mode"), QStringLiteral("manual")},
                                                            {QStringLiteral("boost_percent"), QStringLiteral("75")}}));

    // A failed release without helper has no message.
    QVERIFY(settle(service.releaseToSystem()));
    QVERIFY(!service.lastError());
    QVERIFY(!service.lastControlResult()->ok);
}

void tst_FanControlService::helperTakesOverRefusedWrites()
{
    FanControlService readonlyService(environment(QStringLiteral("intel"), Runner::granting));
    m_sim->setWritesRefused(true);
    QVERIFY(settle(readonlyService.refreshSnapshot()));
    QVERIFY(readonlyService.snapshot().isControllable);
    QCOMPARE(readonlyService.snapshot().note,
             std::optional<QString>(QStringLiteral("Профиль Apple M1/M2. При boost macOS покажет запрос пароля "
                                                   "администратора (не Terminal). Если окно не видно — сверните "
                                                   "другие приложения.")));
    readonlyService.setManualBoostPercent(72.5);
    QVERIFY(settle(readonlyService.applyManualBoost()));
    QVERIFY(readonlyService.manualOverrideActive());
    QVERIFY(!readonlyService.lastError());
    QVERIFY(settle(readonlyService.releaseToSystem()));
    QCOMPARE(m_pkexec->helperRuns(), QStringList({QStringLiteral("set-percent 73"), QStringLiteral("auto")}));
}

void tst_FanControlService::dismissedPasswordDialog()
{
    FanControlService service(environment(QStringLiteral("intel"), Runner::dismissed));
    m_sim->setWritesRefused(true);
    QVERIFY(settle(service.refreshSnapshot()));
    QVERIFY(settle(service.applyManualBoost()));
    QVERIFY(!service.manualOverrideActive());
    QCOMPARE(service.lastError(), std::optional<QString>(QStringLiteral("Запрос прав администратора отменён.")));
    QCOMPARE(service.adminAlertMessage(), service.lastError());
    QCOMPARE(service.mode(), FanControlMode::manual);
    QVERIFY(m_pkexec->helperRuns().isEmpty());
    QCOMPARE(m_pkexec->pkexecRuns().size(), 1);
}

void tst_FanControlService::writeProbeRunsOnce()
{
    FanControlService service(environment(QStringLiteral("intel")));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(settle(service.refreshSnapshot()));
    }
    QCOMPARE(m_sim->writeCount("F0Tg"), 1);
    m_sim->setWritesRefused(true);
    QVERIFY(settle(service.refreshSnapshot()));
    QVERIFY(service.snapshot().isControllable);
    QVERIFY(service.snapshot().note->startsWith(QStringLiteral("Ручной boost доступен.")));
}

void tst_FanControlService::installLocationRiskKeepsHandsOff()
{
    FanControlService service(environment(QStringLiteral("intel")));
    QVERIFY(settle(service.refreshSnapshot()));
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

void tst_FanControlService::quittingWhileBoostedReleasesDirectly()
{
    FanControlService service(environment(QStringLiteral("m1-m4"), Runner::granting));
    service.start(AppSettings::defaults(QStringLiteral("/home/u")));
    QTRY_VERIFY(service.snapshot().isControllable);
    QVERIFY(settle(service.applyManualBoost()));
    QCOMPARE(m_sim->fanMode(0), 1);

    QFuture<bool> release = service.prepareForAppTermination();
    QVERIFY(m_flag->isSet());
    QVERIFY(!service.isPolling());
    QVERIFY(!service.isRequestingAdmin());
    release.waitForFinished();
    QVERIFY(release.result());
    QCOMPARE(m_sim->fanMode(0), int(SmcSimulator::modeHeldBySystem));
    QCOMPARE(m_sim->value("Ftst"), std::optional<QByteArray>(QByteArray(1, '\0')));
    QVERIFY(m_pkexec->pkexecRuns().isEmpty());

    // Nothing runs any more.
    const CoolingSnapshot before = service.snapshot();
    m_sim->setTemperature("Tf09", 99.0);
    QVERIFY(settle(service.refreshSnapshot()));
    QCOMPARE(service.snapshot(), before);
    service.start(AppSettings::defaults(QStringLiteral("/home/u")));
    QVERIFY(!service.isPolling());
    const int writes = m_sim->totalWrites();
    QVERIFY(settle(service.applyManualBoost()));
    QVERIFY(settle(service.releaseToSystem()));
    QCOMPARE(m_sim->totalWrites(), writes);
}

void tst_FanControlService::quittingNeverStartsTheHelper()
{
    FanControlService service(environment(QStringLiteral("intel"), Runner::granting));
    m_sim->setWritesRefused(true);
    QVERIFY(settle(service.refreshSnapshot()));
    QVERIFY(settle(service.applyManualBoost()));
    QCOMPARE(m_pkexec->helperRuns().size(), 1);

    QFuture<bool> release = service.prepareForAppTermination();
    release.waitForFinished();
    QVERIFY(!release.result());
    QCOMPARE(m_pkexec->pkexecRuns().size(), 1);
}

BRISKO_TEST(tst_FanControlService)
#include "tst_FanControlService.moc"
