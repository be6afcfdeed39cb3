#include "BriskoTest.h"
#include "FakePausingClock.h"
#include "fans/AppleSMC.h"
#include "fans/SMCSensorReader.h"
#include "fans/SmcSimulator.h"

#include <QtTest>

// Fans and temperatures as every simulated machine reports them.
class tst_SMCSensorReader : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<FakePausingClock> m_clock;
    std::shared_ptr<SmcSimulator> m_sim;
    std::unique_ptr<AppleSMC> m_smc;

    void openProfile(const char* profile)
    {
        m_sim = SmcSimulator::create(QLatin1String(profile), m_clock);
        QVERIFY(m_sim);
        m_smc = std::make_unique<AppleSMC>(m_sim, m_clock);
        QVERIFY(m_smc->open());
    }

private Q_SLOTS:
    void init() { m_clock = std::make_shared<FakePausingClock>(); }
    void cleanup()
    {
        m_smc.reset();
        m_sim.reset();
    }

    void intelFansUseFixedPointSpeeds();
    void appleSiliconFansWithoutNames();
    void noFanCountMeansNoFans();
    void missingSpeedKeys();
    void fanNames_data();
    void fanNames();
    void temperaturesHottestFirst();
    void equalTemperaturesKeepTableOrder();
    void implausibleTemperaturesAreLeftOut();
};

void tst_SMCSensorReader::intelFansUseFixedPointSpeeds()
{
    openProfile("intel");
    const FanStatusList fans = SMCSensorReader::readFans(*m_smc);
    QCOMPARE(fans.size(), 2);
    // Read by the first byte alone these would be 28, 18 and 90 rpm.
    QCOMPARE(fans.at(0), (FanStatus{0, QStringLiteral("Left fan"), 1800, 1200, 5800, 1800}));
    QCOMPARE(fans.at(1), (FanStatus{1, QStringLiteral("Right fan"), 1750, 1200, 6000, 1750}));
}

void tst_SMCSensorReader::appleSiliconFansWithoutNames()
{
    openProfile("m1-m4");
    FanStatusList fans = SMCSensorReader::readFans(*m_smc);
    QCOMPARE(fans.size(), 2);
    QCOMPARE(fans.at(0), (FanStatus{0, QStringLiteral("Вентилятор 1"), 1300, 1200, 5779, 1300}));
    QCOMPARE(fans.at(1).name, QStringLiteral("Вентилятор 2"));

    openProfile("m5");
    fans = SMCSensorReader::readFans(*m_smc);
    QCOMPARE(fans.size(), 1);
    QCOMPARE(fans.at(0), (FanStatus{0, QStringLiteral("Main"), 1100, 1000, 4900, 1100}));
}

void tst_SMCSensorReader::noFanCountMeansNoFans()
{
    openProfile("fanless");
    QVERIFY(SMCSensorReader::readFans(*m_smc).isEmpty());
    openProfile("intel");
    m_sim->removeKey("FNum");
    QVERIFY(SMCSensorReader::readFans(*m_smc).isEmpty());
}

void tst_SMCSensorReader::missingSpeedKeys()
{
    openProfile("intel");
    m_sim->removeKey("F0Tg");
    m_sim->removeKey("F0Mn");
    m_sim->removeKey("F1Ac");
    const FanStatusList fans = SMCSensorReader::readFans(*m_smc);
    QCOMPARE(fans.size(), 2);
    QVERIFY(!fans.at(0).targetRPM);
    QCOMPARE(fans.at(0).minimumRPM, 0);
    QCOMPARE(fans.at(0).maximumRPM, 5800);
    // Without F1Ac there is no type, so the fpe2 values of fan 1 are read
    // by the plain first-byte rule.
    QCOMPARE(fans.at(1).currentRPM, 0);
    QCOMPARE(fans.at(1).maximumRPM, 0x5D);
}

void tst_SMCSensorReader::fanNames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");

    QTest::newRow("zero padded") << QByteArray("Left\0\0\0\0", 8) << "Left";
    QTest::newRow("control bytes on both ends") << QByteArray("\x01\x02 Exhaust \x7F\0", 12) << " Exhaust ";
    QTest::newRow("inner control byte stays") << QByteArray("A\tB", 3) << "A\tB";
    QTest::newRow("not ASCII") << QByteArray("Fan \xC3\xA9", 6) << "Вентилятор 1";
}

void tst_SMCSensorReader::fanNames()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    openProfile("m5");
    m_sim->defineKey("F0ID", "ch8*", bytes, false);
    QCOMPARE(SMCSensorReader::readFans(*m_smc).at(0).name, name);
}

void tst_SMCSensorReader::temperaturesHottestFirst()
{
    openProfile("intel");
    const TemperatureReadingList readings = SMCSensorReader::readTemperatures(*m_smc);
    QStringList keys;
    for (const TemperatureReading& reading : readings) {
        keys.append(reading.id);
    }
    QCOMPARE(keys.join(QLatin1Char(' ')), QStringLiteral("TC0D TC0P TG0P Th0H Tm0P TB1T"));
    QCOMPARE(readings.at(0), (TemperatureReading{QStringLiteral("TC0D"), QStringLiteral("CPU (ядро)"), 55.0}));
    QCOMPARE(readings.at(2), (TemperatureReading{QStringLiteral("TG0P"), QStringLiteral("GPU"), 50.25}));
    QCOMPARE(readings.at(5).label, QStringLiteral("Батарея"));

    openProfile("m1-m4");
    const TemperatureReadingList silicon = SMCSensorReader::readTemperatures(*m_smc);
    QCOMPARE(silicon.size(), 5);
    QCOMPARE(silicon.first(), (TemperatureReading{QStringLiteral("Tf09"), QStringLiteral("CPU P-core"), 52.0}));
}

void tst_SMCSensorReader::equalTemperaturesKeepTableOrder()
{
    openProfile("intel");
    for (const char* key : {"TB1T", "TG0P", "TC0P"}) {
        m_sim->setTemperature(key, 60.0);
    }
    const TemperatureReadingList readings = SMCSensorReader::readTemperatures(*m_smc);
    QCOMPARE(readings.at(0).id, QStringLiteral("TC0P"));
    QCOMPARE(readings.at(1).id, QStringLiteral("TG0P"));
    QCOMPARE(readings.at(2).id, QStringLiteral("TB1T"));
}

void tst_SMCSensorReader::implausibleTemperaturesAreLeftOut()
{
    openProfile("m5");
    m_sim->setTemperature("Tf09", 130.0);
    m_sim->setTemperature("Te05", -41.0);
    m_sim->setTemperature("Tp09", 129.5);
    const TemperatureReadingList readings = SMCSensorReader::readTemperatures(*m_smc);
    QCOMPARE(readings.size(), 1);
    QCOMPARE(readings.at(0).id, QStringLiteral("Tp09"));
    QCOMPARE(readings.at(0).celsius, 129.5);
}

BRISKO_TEST(tst_SMCSensorReader)
#include "tst_SMCSensorReader.moc"
