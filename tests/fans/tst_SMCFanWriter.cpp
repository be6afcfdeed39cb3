#include "BriskoTest.h"
#include "FakePausingClock.h"
#include "fans/AppleSMC.h"
#include "fans/SMCFanWriter.h"
#include "fans/SMCSensorReader.h"
#include "fans/SmcSimulator.h"

#include <QtTest>

#include <cmath>

// The direct write batches on every simulated machine.
class tst_SMCFanWriter : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<FakePausingClock> m_clock;

    struct Rig
    {
        std::shared_ptr<SmcSimulator> sim;
        SmcMachine machine;
        FanStatusList fans;
        SMCFanProfile profile;
    };

    Rig rig(const QString& profile)
    {
        Rig r;
        r.sim = SmcSimulator::create(profile, m_clock);
        r.machine.transport = r.sim;
        r.machine.clock = m_clock;
        r.machine.modelIdentifier = r.sim->modelIdentifier();
        r.profile = SMCFanProfile::detect(r.sim->modelIdentifier());
        AppleSMC smc(r.sim, m_clock);
        if (smc.open())
            r.fans = SMCSensorReader::readFans(smc);
        return r;
    }

private Q_SLOTS:
    void init() { m_clock = std::make_shared<FakePausingClock>(); }

    void targetRPM_data()
    {
        QTest::addColumn<double>("percent");
        QTest::addColumn<int>("rpm");
        QTest::newRow("0") << 0.0 << 1200;
        QTest::newRow("50") << 50.0 << 3500;
        QTest::newRow("truncated") << 33.3 << 2731; // 1200 + 1531.8
        QTest::newRow("100") << 100.0 << 5800;
        QTest::newRow("150 is the maximum") << 150.0 << 5800;
        QTest::newRow("-10 is the minimum") << -10.0 << 1200;
        QTest::newRow("not a number is the minimum") << std::nan("") << 1200;
    }
    void targetRPM()
    {
        QFETCH(double, percent);
        QFETCH(int, rpm);
        QCOMPARE(SMCFanWriter::targetRPM(FanStatus{0, {}, 0, 1200, 5800, {}}, percent), rpm);
    }

    void boostAndReleaseOnEveryMachine_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<int>("releasedMode");
        QTest::newRow("intel") << "intel" << 0;
        QTest::newRow("m1-m4") << "m1-m4" << int(SmcSimulator::modeHeldBySystem);
        QTest::newRow("m5") << "m5" << 0;
    }
    void boostAndReleaseOnEveryMachine()
    {
        QFETCH(QString, profile);
        QFETCH(int, releasedMode);
        Rig r = rig(profile);
        QVERIFY(!r.fans.isEmpty());
        QVERIFY(SMCFanWriter::setAllFansTarget(r.machine, r.profile.strategy, r.fans, 60.0));
        for (const FanStatus& fan : r.fans) {
            const int expected = fan.minimumRPM + int(0.6 * (fan.maximumRPM - fan.minimumRPM));
            QCOMPARE(r.sim->fanMode(fan.id), 1);
            QCOMPARE(r.sim->targetRPM(fan.id), std::optional<int>(expected));
            QCOMPARE(r.sim->currentRPM(fan.id), expected);
        }
        QCOMPARE(r.sim->openConnectionCount(), 0);
        QVERIFY(SMCFanWriter::releaseFans(r.machine, r.profile.strategy, r.fans));
        for (const FanStatus& fan : r.fans) {
            QCOMPARE(r.sim->fanMode(fan.id), releasedMode);
            QCOMPARE(r.sim->targetRPM(fan.id), std::optional<int>(0));
            QCOMPARE(r.sim->currentRPM(fan.id), fan.currentRPM);
        }
        if (r.profile.strategy == SMCFanProfile::WriteStrategy::ftstUnlock)
            QCOMPARE(r.sim->value("Ftst"), std::optional<QByteArray>(QByteArray(1, '\0')));
        QCOMPARE(r.sim->openConnectionCount(), 0);
    }

    void heldFansNeedTheUnlock()
    {
        // Mac15,3 is written directly, but this firmware holds its fans until
        // "Ftst" is set: every fan is skipped after its manual-mode attempts.
        Rig r = rig(QStringLiteral("m1-m4"));
        QVERIFY(!SMCFanWriter::setAllFansTarget(r.machine, SMCFanProfile::WriteStrategy::directWrite, r.fans, 80.0));
        QCOMPARE(r.sim->writeCount("F0Tg"), 0);
        QCOMPARE(r.sim->writeCount("F0Md"), 20);
        QCOMPARE(m_clock->pausedMs(), 2 * 1900);
    }

    void fansWithoutRangeAreNeverWritten()
    {
        Rig r = rig(QStringLiteral("intel"));
        r.fans[0].minimumRPM = 1200;
        r.fans[0].maximumRPM = 1200;
        r.fans[1].maximumRPM = 1000;
        QVERIFY(!SMCFanWriter::setAllFansTarget(r.machine, r.profile.strategy, r.fans, 100.0));
        QCOMPARE(r.sim->totalWrites(), 0);

        // A fan the controller has no keys for is skipped too.
        Rig m5 = rig(QStringLiteral("m5"));
        m5.fans.append(FanStatus{3, {}, 0, 1000, 3000, {}});
        QVERIFY(SMCFanWriter::setAllFansTarget(m5.machine, m5.profile.strategy, m5.fans, 100.0));
        QCOMPARE(m5.sim->targetRPM(0), std::optional<int>(4900));
    }

    void speedsTheTargetTypeCannotHoldAreNotWritten()
    {
        Rig r = rig(QStringLiteral("m5"));
        r.sim->defineKey("F0Tg", "ui8 ", QByteArray(2, '\0'), true);
        // 1000 + 50 % of 3900 does not fit one byte: better no write than 0x3A.
        QVERIFY(!SMCFanWriter::setAllFansTarget(r.machine, r.profile.strategy, r.fans, 50.0));
        QCOMPARE(r.sim->writeCount("F0Tg"), 0);
        const FanStatusList small = {FanStatus{0, {}, 0, 100, 250, {}}};
        QVERIFY(SMCFanWriter::setAllFansTarget(r.machine, r.profile.strategy, small, 50.0));
        QCOMPARE(r.sim->value("F0Tg")->toHex(), QByteArray("af00"));
    }

    void refusedOrMissingControllerFails()
    {
        Rig r = rig(QStringLiteral("intel"));
        r.sim->setWritesRefused(true);
        QVERIFY(!SMCFanWriter::setAllFansTarget(r.machine, r.profile.strategy, r.fans, 50.0));
        QVERIFY(!SMCFanWriter::releaseFans(r.machine, r.profile.strategy, r.fans));
        QCOMPARE(r.sim->fanMode(0), 0);
        SmcMachine none;
        none.clock = m_clock;
        QVERIFY(!SMCFanWriter::setAllFansTarget(none, SMCFanProfile::WriteStrategy::directWrite, r.fans, 50.0));
        QVERIFY(!SMCFanWriter::releaseFans(none, SMCFanProfile::WriteStrategy::ftstUnlock, r.fans));
        Rig fanless = rig(QStringLiteral("fanless"));
        QVERIFY(fanless.fans.isEmpty());
        QVERIFY(!SMCFanWriter::releaseFans(fanless.machine, fanless.profile.strategy, fanless.fans));
    }
};

BRISKO_TEST(tst_SMCFanWriter)
#include "tst_SMCFanWriter.moc"
