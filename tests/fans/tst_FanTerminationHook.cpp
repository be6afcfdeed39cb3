#include "BriskoTest.h"
#include "FakePausingClock.h"
#include "RecordingSinks.h"
#include "fans/FanTerminationHook.h"
#include "fans/SmcSimulator.h"

#include <QTimer>
#include <QtTest>

// Quitting the application hands boosted fans back before the event loop
// returns. Uses the process-wide termination flag, as the program does; the
// signal half is tested on the brisko program (tst_CliCooling).
class tst_FanTerminationHook : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void quitReleasesBoostedFans();
};

void tst_FanTerminationHook::quitReleasesBoostedFans()
{
    const auto clock = std::make_shared<FakePausingClock>();
    const auto sim = SmcSimulator::create(QStringLiteral("m5"), clock);
    FanControlEnvironment env;
    env.machine.transport = sim;
    env.machine.clock = clock;
    env.machine.modelIdentifier = sim->modelIdentifier();
    env.fanProfile = SMCFanProfile::detect(sim->modelIdentifier());
    env.errors = std::make_shared<RecordingErrorSink>();
    env.termination = &TerminationFlag::process();
    FanControlService service(env);

    QFuture<void> refresh = service.refreshSnapshot();
    QTRY_VERIFY(refresh.isFinished());
    QFuture<void> boost = service.applyManualBoost();
    QTRY_VERIFY(boost.isFinished());
    QCOMPARE(sim->fanMode(0), 1);

    FanTerminationHook::install(*QCoreApplication::instance(), service, TerminationFlag::process());
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();

    QVERIFY(TerminationFlag::process().isSet());
    QCOMPARE(sim->fanMode(0), 0);
    QCOMPARE(sim->targetRPM(0), std::optional<int>(0));
}

BRISKO_TEST(tst_FanTerminationHook)
#include "tst_FanTerminationHook.moc"
