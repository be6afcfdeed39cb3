#include "BriskoTest.h"
#include "FakeApplesmcTree.h"
#include "FakePausingClock.h"
#include "fans/AppleSMC.h"
#include "fans/ApplesmcTransport.h"
#include "fans/CoolingSnapshotReader.h"
#include "fans/SMCFanWriter.h"
#include "fans/SMCSensorReader.h"

#include <QFile>
#include <QtTest>

#include <unistd.h>

// The applesmc transport against a fake driver tree in a temporary folder.
class tst_ApplesmcTransport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_clock = std::make_shared<FakePausingClock>(); }

    void findsTheDriverFolder_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("subfolder");
        QTest::newRow("platform device") << "/sys/devices/platform/applesmc.768" << "";
        QTest::newRow("ACPI device") << "/sys/bus/acpi/devices/APP0001:00" << "";
        QTest::newRow("ACPI device, hwmon folder") << "/sys/bus/acpi/devices/APP0001:00" << "hwmon/hwmon4";
    }

    void findsTheDriverFolder()
    {
        QFETCH(QString, device);
        QFETCH(QString, subfolder);
        FakeApplesmcTree tree(device, subfolder);
        fillMacBookPro(tree);
        QCOMPARE(ApplesmcTransport(tree.root()).attributeFolder(), std::optional<QString>(tree.attributeFolder()));
        AppleSMC smc(std::make_shared<ApplesmcTransport>(tree.root()), m_clock);
        QVERIFY(smc.open());
        QCOMPARE(SMCSensorReader::readFans(smc).size(), 2);
    }

    void withoutTheDriverNothingOpens()
    {
        QTemporaryDir empty;
        ApplesmcTransport transport(empty.path());
        QCOMPARE(transport.findService("AppleSMC"), 0u);
        QCOMPARE(transport.openConnection(0x768, 0), 0u);
        FakeApplesmcTree tree;
        ApplesmcTransport present(tree.root());
        QCOMPARE(present.findService("IOSomethingElse"), 0u);
        // Only connection type 0 exists.
        QCOMPARE(present.openConnection(present.findService("AppleSMC"), 1), 0u);
        SmcMachine machine;
        machine.transport = std::make_shared<ApplesmcTransport>(empty.path());
        machine.clock = m_clock;
        CoolingSnapshotReader::WriteProbe probe;
        const CoolingSnapshotReader::Reading reading =
            CoolingSnapshotReader::read(machine, SMCFanProfile::detect(QStringLiteral("unknown")), false, probe);
        QCOMPARE(reading.snapshot.note, std::optional<QString>(QStringLiteral("Apple SMC недоступен.")));
        QCOMPARE(reading.error, std::optional<QString>(QStringLiteral("Не удалось открыть Apple SMC")));
        QVERIFY(!reading.snapshot.isControllable);
    }

    void readsFansAndTemperatures()
    {
        FakeApplesmcTree tree;
        fillMacBookPro(tree);
        AppleSMC smc(std::make_shared<ApplesmcTransport>(tree.root()), m_clock);
        QVERIFY(smc.open());
        QCOMPARE(smc.keyInfo(QStringLiteral("F0Ac"))->dataType, QStringLiteral("fpe2"));
        QCOMPARE(smc.readKey(QStringLiteral("FNum")), std::optional<QByteArray>(QByteArray(1, '\2')));
        const FanStatusList fans = SMCSensorReader::readFans(smc);
        QCOMPARE(fans, (FanStatusList{FanStatus{0, QStringLiteral("Left side"), 2001, 2000, 6200, 2000},
                                      FanStatus{1, QStringLiteral("Right side"), 1998, 2000, 5800, 2000}}));
        const TemperatureReadingList readings = SMCSensorReader::readTemperatures(smc);
        QCOMPARE(readings.size(), 3);
        QCOMPARE(readings.at(0), (TemperatureReading{QStringLiteral("TC0P"), QStringLiteral("CPU"), 52.5}));
        QCOMPARE(readings.at(1).id, QStringLiteral("TG0P"));
        QCOMPARE(readings.at(2), (TemperatureReading{QStringLiteral("TB1T"), QStringLiteral("Батарея"), 31.25}));
        // The driver's values change under a running connection.
        tree.writeAttribute(QStringLiteral("fan1_input"), "4321\n");
        QCOMPARE(SMCSensorReader::readFans(smc).at(0).currentRPM, 4321);
    }

    void boostAndReleaseWriteTheAttributes_data()
    {
        QTest::addColumn<int>("strategy");
        QTest::newRow("direct write") << int(SMCFanProfile::WriteStrategy::directWrite);
        // No "Ftst" here: the unlock fails and manual mode is entered directly.
        QTest::newRow("unlock first") << int(SMCFanProfile::WriteStrategy::ftstUnlock);
    }

    void boostAndReleaseWriteTheAttributes()
    {
        QFETCH(int, strategy);
        FakeApplesmcTree tree;
        fillMacBookPro(tree);
        SmcMachine machine;
        machine.transport = std::make_shared<ApplesmcTransport>(tree.root());
        machine.clock = m_clock;
        const auto writeStrategy = SMCFanProfile::WriteStrategy(strategy);
        const FanStatusList fans{FanStatus{0, {}, 2001, 2000, 6200, 2000}, FanStatus{1, {}, 1998, 2000, 5800, 2000}};
        const auto attributes = [&tree] {
            QList<std::optional<QByteArray>> values;
            for (const char* name : {"fan1_manual", "fan1_output", "fan2_manual", "fan2_output"})
                values.append(tree.attribute(QLatin1String(name)));
            return values;
        };
        QVERIFY(SMCFanWriter::setAllFansTarget(machine, writeStrategy, fans, 50.0));
        QCOMPARE(attributes(), (QList<std::optional<QByteArray>>{"1", "4100", "1", "3900"}));
        QVERIFY(SMCFanWriter::releaseFans(machine, writeStrategy, fans));
        QCOMPARE(attributes(), (QList<std::optional<QByteArray>>{"0", "0", "0", "0"}));
    }

    void whatTheDriverCannotServe()
    {
        FakeApplesmcTree tree;
        fillMacBookPro(tree);
        tree.writeAttribute(QStringLiteral("fan1_min"), "garbage\n");
        tree.writeAttribute(QStringLiteral("temp2_input"), "\n");
        // An empty label is a key without a value; a missing one is no key.
        tree.addFan(3, 1500, 1000, 5000, 1000, QByteArray(""));
        AppleSMC smc(std::make_shared<ApplesmcTransport>(tree.root()), m_clock);
        QVERIFY(smc.open());
        for (const char* key : {"Ftst", "F0md", "F0tg", "F3Ac", "Tp09", "TZ9Y", "XXXX", "F0Zz"})
            QVERIFY2(!smc.keyInfo(QLatin1String(key)), key);
        QCOMPARE(smc.keyInfo(QStringLiteral("F2ID"))->dataSize, 0u);
        QVERIFY(!smc.readKey(QStringLiteral("F2ID")));
        QVERIFY(!smc.writeKey(QStringLiteral("F2ID"), "x"));
        QCOMPARE(smc.fanModeKey(0), std::optional<QString>(QStringLiteral("F0Md")));
        QCOMPARE(smc.fanTargetKey(0), std::optional<QString>(QStringLiteral("F0Tg")));
        QVERIFY(!smc.fanModeKey(3));
        const FanStatusList fans = SMCSensorReader::readFans(smc);
        QCOMPARE(fans.size(), 3);
        QCOMPARE(fans.at(0).minimumRPM, 0);
        QCOMPARE(fans.at(0).maximumRPM, 6200);
        QCOMPARE(fans.at(2).name, QStringLiteral("Вентилятор 3"));
        const TemperatureReadingList readings = SMCSensorReader::readTemperatures(smc);
        QCOMPARE(readings.size(), 2);
        QVERIFY(readings.at(0).id != QStringLiteral("TC0P"));

        // Only the mode and the target can be written.
        QVERIFY(!smc.writeUInt8(QStringLiteral("Ftst"), 1));
        QVERIFY(!smc.writeKey(QStringLiteral("F0Mx"), QByteArray::fromHex("FFFC")));
        QVERIFY(!smc.writeKey(QStringLiteral("TG0P"), QByteArray(4, '\0')));
        QVERIFY(!smc.writeUInt8(QStringLiteral("FNum"), 9));
        QCOMPARE(tree.attribute(QStringLiteral("fan1_max")), std::optional<QByteArray>("6200"));
    }

    void writesThatAreNotAllowedFailAsNotPrivileged()
    {
        if (::geteuid() == 0)
            QSKIP("root may write any file; the refusal needs an ordinary user");
        FakeApplesmcTree tree;
        fillMacBookPro(tree);
        QVERIFY(QFile::setPermissions(tree.attributeFolder() + QStringLiteral("/fan1_output"), QFileDevice::ReadOwner));
        ApplesmcTransport transport(tree.root());
        const quint32 connection = transport.openConnection(transport.findService("AppleSMC"), 0);
        SMCParamStruct request;
        request.key = *AppleSMC::keyCode(QStringLiteral("F0Tg"));
        request.dataSize = 2;
        request.command = SMCParamStruct::commandWriteBytes;
        SmcTransport::Buffer answer{};
        QCOMPARE(transport.callStructMethod(connection, 2, request.serialize(), &answer),
                 SmcTransport::statusNotPrivileged);
        AppleSMC smc(std::make_shared<ApplesmcTransport>(tree.root()), m_clock);
        QVERIFY(smc.open());
        QVERIFY(!smc.canWrite());
    }

    void describedByEnvironmentText()
    {
        FakeApplesmcTree tree;
        fillMacBookPro(tree);
        tree.setModel("MacBookPro16,1");
        QString error;
        const std::optional<SmcMachine> machine =
            SmcMachine::fromDescription(QStringLiteral("applesmc:") + tree.root(), m_clock, &error);
        QVERIFY2(machine, qPrintable(error));
        QCOMPARE(machine->modelIdentifier, std::optional<QString>(QStringLiteral("MacBookPro16,1")));
        AppleSMC smc(machine->transport, m_clock);
        QVERIFY(smc.open());
        QCOMPARE(SMCSensorReader::readTemperatures(smc).size(), 3);
    }

private:
    // Two fans and three sensors, as on a MacBook Pro of the Intel years, a
    // sensor the program does not list and a label that is no key.
    static void fillMacBookPro(FakeApplesmcTree& tree)
    {
        tree.addFan(1, 2001, 2000, 6200, 2000, QByteArray("Left side  "));
        tree.addFan(2, 1998, 2000, 5800, 2000, QByteArray("Right side"));
        tree.addTemperature(1, "TB1T", 31250);
        tree.addTemperature(2, "TC0P", 52500);
        tree.addTemperature(3, "TG0P", 48000);
        tree.addTemperature(4, "TZ9Z", 60000);
        tree.addTemperature(5, "not a key", 70000);
    }

    std::shared_ptr<FakePausingClock> m_clock;
};

BRISKO_TEST(tst_ApplesmcTransport)
#include "tst_ApplesmcTransport.moc"
