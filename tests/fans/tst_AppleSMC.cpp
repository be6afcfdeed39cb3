#include "BriskoTest.h"
#include "FakeApplesmcTree.h"
#include "FakePausingClock.h"
#include "fans/AppleSMC.h"
#include "fans/ApplesmcTransport.h"
#include "fans/SMCFanWriter.h"
#include "fans/SMCSensorReader.h"
#include "fans/SmcSimulator.h"

#include <QtEndian>
#include <QtTest>

#include <atomic>
#include <cmath>

#include <unistd.h>

namespace {

// Passes every call on to the simulator and counts the structure calls, so a
// test can tell that a request never reached the controller.
class CountingTransport : public SmcTransport
{
public:
    explicit CountingTransport(SmcTransportPtr inner)
        : m_inner(std::move(inner))
    {
    }
    quint32 findService(const QByteArray& className) override { return m_inner->findService(className); }
    void releaseService(quint32 service) override { m_inner->releaseService(service); }
    quint32 openConnection(quint32 service, quint32 type) override { return m_inner->openConnection(service, type); }
    quint32 callStructMethod(quint32 connection, quint32 selector, const Buffer& input, Buffer* output) override
    {
        ++calls;
        return m_inner->callStructMethod(connection, selector, input, output);
    }
    void closeConnection(quint32 connection) override { m_inner->closeConnection(connection); }

    std::atomic<int> calls = 0;

private:
    SmcTransportPtr m_inner;
};

QByteArray floatBytes(float value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian<float>(value, bytes.data());
    return bytes;
}

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

const double none = std::nan("");

} // namespace

class tst_AppleSMC : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_clock = std::make_shared<FakePausingClock>(); }
    void cleanup()
    {
        m_smc.reset();
        m_sim.reset();
    }

    void paramStructLaysOutFieldsAtFixedOffsets()
    {
        SMCParamStruct request;
        request.key = *AppleSMC::keyCode(QStringLiteral("FNum"));
        request.dataSize = 0x01020304;
        request.dataType = SMCParamStruct::fourCharCode("flt ");
        request.command = SMCParamStruct::commandWriteBytes;
        request.setValue(QByteArray("\xAA\xBB\xCC", 3));
        const SmcTransport::Buffer buffer = request.serialize();
        QByteArray expected(80, '\0');
        // The key lies little-endian: "FNum" reads backwards.
        expected.replace(0, 4, hex("6D754E46"));
        expected.replace(28, 4, hex("04030201"));
        expected.replace(32, 4, hex("20746C66"));
        expected[42] = 6;
        expected.replace(48, 3, hex("AABBCC"));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(buffer.data()), 80), expected);
        // An answer: the result at 40, and never more than 32 bytes of value.
        SmcTransport::Buffer answer = buffer;
        answer[40] = 0x84;
        answer[79] = 0x7E;
        const SMCParamStruct back = SMCParamStruct::parse(answer);
        QCOMPARE(back.key, request.key);
        QCOMPARE(back.dataSize, request.dataSize);
        QCOMPARE(AppleSMC::typeText(back.dataType), QStringLiteral("flt "));
        QCOMPARE(back.command, request.command);
        QCOMPARE(back.result, SMCParamStruct::resultKeyNotFound);
        QCOMPARE(back.value(3), hex("AABBCC"));
        QCOMPARE(back.value(40).size(), 32);
        QCOMPARE(back.bytes[31], quint8(0x7E));
        // Type codes are Mac OS Roman: 0xA5 is a bullet and 0x8A an a-umlaut, not Latin-1.
        QCOMPARE(AppleSMC::typeText(0xA5618A63), QStringLiteral("\u2022a\u00E4c"));
    }

    // "temperature" and "rpm" decode bytes of a type to the number (NaN: no
    // value), "encode" the number to bytes (empty: refused), "uint8" reads the
    // first byte; "key" gives the code of the key in the type column (NaN: refused).
    void codecs_data()
    {
        QTest::addColumn<QByteArray>("codec");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("type");
        QTest::addColumn<double>("number");
        const auto row = [](const char* name, const char* codec, const QByteArray& bytes, const char* type, double number) {
            QTest::newRow(name) << QByteArray(codec) << bytes << QString::fromUtf8(type) << number;
        };
        row("key FNum", "key", {}, "FNum", 0x464E756D);
        row("key with a Latin-1 letter", "key", {}, "T\u00E9st", 0x54E97374);
        row("key of three characters", "key", {}, "FNu", none);
        row("key of five characters", "key", {}, "F10Ac", none);
        row("key of Cyrillic look-alikes", "key", {}, "ТС0Р", none);
        row("key with an astral character, counted once", "key", {}, "F\U0001F300A", none);
        row("sp78 58.5", "temperature", hex("3A80"), "sp78", 58.5);
        row("sp78 negative", "temperature", hex("F600"), "sp78", -10.0);
        row("sp78 exactly -40", "temperature", hex("D800"), "sp78", none);
        row("sp78: only the first two bytes count", "temperature", hex("3A80FFFF"), "sp78", 58.5);
        row("sp78 one byte", "temperature", hex("3A"), "sp78", none);
        row("float 45.25", "temperature", floatBytes(45.25f), "flt ", 45.25);
        row("flo prefix is a float", "temperature", floatBytes(45.25f), "flo?", 45.25);
        row("float exactly 130", "temperature", floatBytes(130.0f), "flt ", none);
        row("float exactly -40", "temperature", floatBytes(-40.0f), "flt ", none);
        row("float NaN", "temperature", floatBytes(std::nanf("")), "flt ", none);
        row("short float uses 8.8", "temperature", hex("3A80"), "flt ", 58.5);
        row("rpm float rounds half away from zero", "rpm", floatBytes(1234.5f), "flt ", 1235);
        row("rpm float 20000.4", "rpm", floatBytes(20000.4f), "flt ", 20000);
        row("rpm float 20000.6 is dropped", "rpm", floatBytes(20000.6f), "flt ", none);
        row("rpm float NaN", "rpm", floatBytes(std::nanf("")), "flt ", none);
        row("rpm float negative", "rpm", floatBytes(-5.0f), "flt ", none);
        // Intel fan speeds: 2000 rpm is 0x1F40 in 14.2 fixed point.
        row("rpm fpe2 2000", "rpm", hex("1F40"), "fpe2", 2000);
        row("rpm fpe2 6200.75", "rpm", hex("60E3"), "fpe2", 6200);
        row("rpm fpe2 one byte", "rpm", hex("1F"), "fpe2", none);
        row("rpm other type: first byte", "rpm", hex("C812"), "ui16", 200);
        row("rpm other type: one byte", "rpm", hex("C8"), "ui8 ", none);
        row("encode float", "encode", floatBytes(2500.0f), "flt ", 2500);
        row("encode float above the limit", "encode", floatBytes(20000.0f), "flt ", 25000);
        row("encode float negative", "encode", floatBytes(0.0f), "flt ", -20);
        row("encode fpe2", "encode", hex("1F40"), "fpe2", 2000);
        row("encode fpe2 negative", "encode", hex("0000"), "fpe2", -1);
        row("encode fpe2 above range", "encode", hex("FFFC"), "fpe2", 20000);
        row("encode one byte", "encode", hex("C800"), "ui8 ", 200);
        row("encode one byte negative", "encode", hex("0000"), "ui8 ", -5);
        row("encode one byte too large", "encode", QByteArray(), "ui8 ", 300);
        row("uint8 first of two", "uint8", hex("02FF"), "ui8 ", 2);
        row("uint8 empty", "uint8", QByteArray(), "ui8 ", none);
    }

    void codecs()
    {
        QFETCH(QByteArray, codec);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, type);
        QFETCH(double, number);
        const auto expected = [&] { return std::isnan(number) ? std::nullopt : std::optional<int>(int(number)); };
        if (codec == "key") {
            const std::optional<quint32> code = AppleSMC::keyCode(type);
            QCOMPARE(code ? double(*code) : none, number);
        } else if (codec == "temperature") {
            const std::optional<double> actual = AppleSMC::decodeTemperature(bytes, type);
            QCOMPARE(actual.value_or(none), number);
            QCOMPARE(actual.has_value(), !std::isnan(number));
        } else if (codec == "rpm") {
            QCOMPARE(AppleSMC::decodeRPM(bytes, type), expected());
        } else if (codec == "uint8") {
            QCOMPARE(AppleSMC::decodeUInt8(bytes), expected());
        } else {
            const std::optional<QByteArray> actual = AppleSMC::encodeRPM(int(number), type);
            QCOMPARE(actual.value_or(QByteArray()).toHex(), bytes.toHex());
            QCOMPARE(actual.has_value(), !bytes.isEmpty());
            if (type == QLatin1String("fpe2") && number >= 0 && number <= 0x3FFF)
                QCOMPARE(AppleSMC::decodeRPM(*actual, type), expected());
        }
    }

    void openFindsTheServiceAndCloses()
    {
        const auto sim = simulator("intel");
        {
            AppleSMC smc(sim, m_clock);
            QCOMPARE(smc.connection(), 0u);
            QVERIFY(smc.open());
            const quint32 first = smc.connection();
            // Opening again replaces the connection instead of leaking it.
            QVERIFY(first != 0 && smc.open() && smc.connection() != first);
            QCOMPARE(sim->openConnectionCount(), 1);
        }
        QCOMPARE(sim->openConnectionCount(), 0);
        AppleSMC nothing(nullptr, m_clock);
        QVERIFY(!nothing.open());
        QVERIFY(!nothing.keyInfo(QStringLiteral("FNum")));
    }

    void badKeysAndClosedConnectionsNeverReachTheController()
    {
        const auto counting = std::make_shared<CountingTransport>(simulator("intel"));
        AppleSMC smc(counting, m_clock);
        QVERIFY(!smc.keyInfo(QStringLiteral("FNum")));
        QVERIFY(!smc.readKey(QStringLiteral("FNum")));
        QVERIFY(!smc.writeUInt8(QStringLiteral("F0Md"), 1));
        QVERIFY(smc.open());
        for (const QString& key : {QStringLiteral("FNu"), QStringLiteral("F10Ac"), QString()}) {
            QVERIFY(!smc.keyInfo(key));
            QVERIFY(!smc.readKey(key));
            QVERIFY(!smc.writeKey(key, QByteArray(1, '\1')));
            QVERIFY(!smc.writeUInt8(key, 1));
        }
        QVERIFY(!smc.tryEnterManualDirect(QStringLiteral("F0Md"), 0));
        QCOMPARE(counting->calls.load(), 0);
    }

    void readAndWriteThroughTheSimulator()
    {
        openProfile("intel");
        const std::optional<AppleSMC::KeyInfo> info = m_smc->keyInfo(QStringLiteral("F0Ac"));
        QVERIFY(info && info->dataSize == 2u);
        QCOMPARE(info->dataType, QStringLiteral("fpe2"));
        QCOMPARE(m_smc->readKey(QStringLiteral("FNum")), std::optional<QByteArray>(hex("02")));
        QVERIFY(!m_smc->keyInfo(QStringLiteral("Ftst")));
        QVERIFY(!m_smc->readKey(QStringLiteral("Ftst")));
        // Read-only keys refuse writes with the controller's own code.
        QVERIFY(!m_smc->writeKey(QStringLiteral("F0Mx"), hex("FFFC")));
        QCOMPARE(m_sim->value("F0Mx")->toHex(), QByteArray("5aa0"));
        QVERIFY(m_smc->writeUInt8(QStringLiteral("F0Md"), 1));
        QVERIFY(m_smc->writeKey(QStringLiteral("F0Tg"), hex("2EE0")));
        QCOMPARE(m_sim->targetRPM(0), std::optional<int>(3000));
        QCOMPARE(m_smc->readKey(QStringLiteral("F0Ac")), std::optional<QByteArray>(hex("2EE0")));
        // A write sends the size of the key, not of the data, and at most 32 bytes.
        QVERIFY(m_smc->writeKey(QStringLiteral("F0Tg"), hex("AB")));
        QCOMPARE(m_sim->value("F0Tg")->toHex(), QByteArray("ab00"));
        m_sim->defineKey("Blob", "ch8*", QByteArray(32, 'x'), true);
        QVERIFY(m_smc->writeKey(QStringLiteral("Blob"), QByteArray(40, 'y')));
        QCOMPARE(*m_sim->value("Blob"), QByteArray(32, 'y'));
        m_sim->setWritesRefused(true);
        QVERIFY(!m_smc->writeUInt8(QStringLiteral("F0Md"), 0));
        QCOMPARE(m_sim->fanMode(0), 1);
    }

    void modeAndTargetKeysPreferLowerCase()
    {
        openProfile("intel");
        QCOMPARE(m_smc->fanModeKey(0), std::optional<QString>(QStringLiteral("F0Md")));
        QCOMPARE(m_smc->fanTargetKey(1), std::optional<QString>(QStringLiteral("F1Tg")));
        QVERIFY(!m_smc->fanModeKey(2));
        m_sim->defineKey("F0md", "ui8 ", hex("00"), true);
        m_sim->defineKey("F0tg", "fpe2", hex("0000"), true);
        QCOMPARE(m_smc->fanModeKey(0), std::optional<QString>(QStringLiteral("F0md")));
        QCOMPARE(m_smc->fanTargetKey(0), std::optional<QString>(QStringLiteral("F0tg")));
    }

    // The probe writes 0 to fan 0's target.
    void canWriteProbesFanZeroTarget()
    {
        openProfile("intel");
        QVERIFY(m_sim->targetRPM(0) != 0);
        QVERIFY(m_smc->canWrite());
        QCOMPARE(m_sim->targetRPM(0), std::optional<int>(0));
        m_sim->setWritesRefused(true);
        QVERIFY(!m_smc->canWrite());
        openProfile("fanless");
        QVERIFY(!m_smc->canWrite());
    }

    void manualModeAndTheUnlockOnTheFakeClock()
    {
        openProfile("intel");
        QVERIFY(m_smc->tryEnterManualDirect(QStringLiteral("F0Md"), 20));
        QVERIFY(!m_smc->unlockFanControl(0));
        QCOMPARE(m_clock->pauses(), 0);
        // The M1–M4 firmware ignores the write until it has been unlocked:
        // every try fails, with a tenth of a second between tries.
        openProfile("m1-m4");
        QVERIFY(!m_smc->tryEnterManualDirect(QStringLiteral("F0Md"), 20));
        QCOMPARE(std::pair(m_clock->pauses(), m_clock->pausedMs()), std::pair(19, qint64(1900)));
        QCOMPARE(m_sim->writeCount("F0Md"), 20);
        QCOMPARE(m_sim->fanMode(0), int(SmcSimulator::modeHeldBySystem));
        QVERIFY(!m_smc->tryEnterManualDirect(QStringLiteral("Fxxx"), 3));
        m_clock = std::make_shared<FakePausingClock>();
        openProfile("m1-m4");
        QVERIFY(m_smc->unlockFanControl(1));
        QCOMPARE(m_sim->fanMode(1), 1);
        QCOMPARE(m_sim->value("Ftst"), std::optional<QByteArray>(hex("01")));
        // Polls of 200 ms until the firmware let go after 1.5 s; not the whole 10 s.
        QCOMPARE(m_clock->pausedMs(), qint64(SmcSimulator::unlockDelayMs + 100));
    }

    // Each fan as "id name: current (minimum-maximum, target)"; removed: keys taken away first.
    void fans_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QByteArrayList>("removed");
        QTest::addColumn<QString>("fans");
        // Read by the first byte alone these would be 28, 18 and 90 rpm.
        QTest::newRow("intel: fixed-point speeds") << QByteArray("intel") << QByteArrayList()
                                                   << "0 Left fan: 1800 (1200-5800, 1800) | 1 Right fan: 1750 (1200-6000, 1750)";
        QTest::newRow("m1-m4: no names") << QByteArray("m1-m4") << QByteArrayList()
                                         << "0 Вентилятор 1: 1300 (1200-5779, 1300) | 1 Вентилятор 2: 1350 (1200-6241, 1350)";
        QTest::newRow("fanless") << QByteArray("fanless") << QByteArrayList() << "";
        QTest::newRow("no fan count") << QByteArray("intel") << QByteArrayList{"FNum"} << "";
        // Without F1Ac there is no type, so the fpe2 values of fan 1 are read
        // by the plain first-byte rule.
        QTest::newRow("missing speed keys") << QByteArray("intel") << QByteArrayList{"F0Tg", "F0Mn", "F1Ac"}
                                            << "0 Left fan: 1800 (0-5800, -) | 1 Right fan: 0 (18-93, 27)";
    }
    void fans()
    {
        QFETCH(QByteArray, profile);
        QFETCH(QByteArrayList, removed);
        QFETCH(QString, fans);
        openProfile(profile);
        for (const QByteArray& key : removed)
            m_sim->removeKey(key);
        QStringList actual;
        for (const FanStatus& fan : SMCSensorReader::readFans(*m_smc)) {
            actual.append(QStringLiteral("%1 %2: %3 (%4-%5, %6)")
                              .arg(fan.id)
                              .arg(fan.name)
                              .arg(fan.currentRPM)
                              .arg(fan.minimumRPM)
                              .arg(fan.maximumRPM)
                              .arg(fan.targetRPM ? QString::number(*fan.targetRPM) : QStringLiteral("-")));
        }
        QCOMPARE(actual.join(QStringLiteral(" | ")), fans);
    }

    // Zero padding and control bytes on both ends go, an inner one stays;
    // a name that is not ASCII is no name.
    void fanNames()
    {
        openProfile("m5");
        QStringList names;
        for (const QByteArray& bytes : {QByteArray("Left\0\0\0\0", 8), QByteArray("\x01\x02 Exhaust \x7F\0", 12),
                                        QByteArray("A\tB", 3), QByteArray("Fan \xC3\xA9", 6)}) {
            m_sim->defineKey("F0ID", "ch8*", bytes, false);
            names.append(SMCSensorReader::readFans(*m_smc).at(0).name);
        }
        QCOMPARE(names, QStringList({QStringLiteral("Left"), QStringLiteral(" Exhaust "), QStringLiteral("A\tB"),
                                     QStringLiteral("Вентилятор 1")}));
    }

    // Hottest first, as "id label celsius"; changed: "key=celsius" set first.
    void temperatures_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QByteArray>("changed");
        QTest::addColumn<QString>("readings");
        QTest::newRow("intel") << QByteArray("intel") << QByteArray()
                               << "TC0D CPU (ядро) 55 | TC0P CPU 52.5 | TG0P GPU 50.25 | Th0H Heat pipe 48 | "
                                  "Tm0P Память 45 | TB1T Батарея 31";
        QTest::newRow("equal ones keep the table's order")
            << QByteArray("intel") << QByteArray("TB1T=60 TG0P=60 TC0P=60")
            << "TC0P CPU 60 | TG0P GPU 60 | TB1T Батарея 60 | TC0D CPU (ядро) 55 | Th0H Heat pipe 48 | Tm0P Память 45";
        QTest::newRow("implausible ones left out") << QByteArray("m5") << QByteArray("Tf09=130 Te05=-41 Tp09=129.5")
                                                   << "Tp09 CPU (пакет) 129.5";
    }
    void temperatures()
    {
        QFETCH(QByteArray, profile);
        QFETCH(QByteArray, changed);
        QFETCH(QString, readings);
        openProfile(profile);
        for (const QByteArray& change : changed.split(' ')) {
            if (!change.isEmpty())
                m_sim->setTemperature(change.left(4), change.mid(5).toDouble());
        }
        QStringList actual;
        for (const TemperatureReading& reading : SMCSensorReader::readTemperatures(*m_smc))
            actual.append(reading.id + QLatin1Char(' ') + reading.label + QLatin1Char(' ') + QString::number(reading.celsius));
        QCOMPARE(actual.join(QStringLiteral(" | ")), readings);
    }

    // The applesmc transport against a fake driver tree in a temporary folder,
    // wherever the driver puts its attributes.
    void readsTheDriverFolder_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("subfolder");
        QTest::newRow("platform device") << "/sys/devices/platform/applesmc.768" << "";
        QTest::newRow("ACPI device") << "/sys/bus/acpi/devices/APP0001:00" << "";
        QTest::newRow("ACPI device, hwmon folder") << "/sys/bus/acpi/devices/APP0001:00" << "hwmon/hwmon4";
    }
    void readsTheDriverFolder()
    {
        QFETCH(QString, device);
        QFETCH(QString, subfolder);
        FakeApplesmcTree tree(device, subfolder);
        fillMacBookPro(tree);
        tree.setModel("MacBookPro16,1");
        QCOMPARE(ApplesmcTransport(tree.root()).attributeFolder(), std::optional<QString>(tree.attributeFolder()));
        QString error;
        const std::optional<SmcMachine> machine =
            SmcMachine::fromDescription(QStringLiteral("applesmc:") + tree.root(), m_clock, &error);
        QVERIFY2(machine, qPrintable(error));
        QCOMPARE(machine->modelIdentifier, std::optional<QString>(QStringLiteral("MacBookPro16,1")));
        AppleSMC smc(machine->transport, m_clock);
        QVERIFY(smc.open());
        QCOMPARE(smc.keyInfo(QStringLiteral("F0Ac"))->dataType, QStringLiteral("fpe2"));
        QCOMPARE(smc.readKey(QStringLiteral("FNum")), std::optional<QByteArray>(QByteArray(1, '\2')));
        QCOMPARE(SMCSensorReader::readFans(smc),
                 (FanStatusList{FanStatus{0, QStringLiteral("Left side"), 2001, 2000, 6200, 2000},
                                FanStatus{1, QStringLiteral("Right side"), 1998, 2000, 5800, 2000}}));
        QCOMPARE(SMCSensorReader::readTemperatures(smc),
                 (TemperatureReadingList{{QStringLiteral("TC0P"), QStringLiteral("CPU"), 52.5},
                                         {QStringLiteral("TG0P"), QStringLiteral("GPU"), 48},
                                         {QStringLiteral("TB1T"), QStringLiteral("Батарея"), 31.25}}));
        // The driver's values change under a running connection.
        tree.writeAttribute(QStringLiteral("fan1_input"), "4321\n");
        QCOMPARE(SMCSensorReader::readFans(smc).at(0).currentRPM, 4321);
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
            QByteArrayList values;
            for (const char* name : {"fan1_manual", "fan1_output", "fan2_manual", "fan2_output"})
                values.append(tree.attribute(QLatin1String(name)).value_or("?"));
            return values.join(' ');
        };
        QVERIFY(SMCFanWriter::setAllFansTarget(machine, writeStrategy, fans, 50.0));
        QCOMPARE(attributes(), QByteArray("1 4100 1 3900"));
        QVERIFY(SMCFanWriter::releaseFans(machine, writeStrategy, fans));
        QCOMPARE(attributes(), QByteArray("0 0 0 0"));
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
        QVERIFY(!smc.fanModeKey(3));
        const FanStatusList fans = SMCSensorReader::readFans(smc);
        QCOMPARE(fans.size(), 3);
        QCOMPARE(std::pair(fans.at(0).minimumRPM, fans.at(0).maximumRPM), std::pair(0, 6200));
        QCOMPARE(fans.at(2).name, QStringLiteral("Вентилятор 3"));
        QCOMPARE(SMCSensorReader::readTemperatures(smc).size(), 2);
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

    std::shared_ptr<SmcSimulator> simulator(const char* profile)
    {
        return SmcSimulator::create(QLatin1String(profile), m_clock);
    }
    void openProfile(const QByteArray& profile)
    {
        m_sim = SmcSimulator::create(QString::fromLatin1(profile), m_clock);
        QVERIFY(m_sim);
        m_smc = std::make_unique<AppleSMC>(m_sim, m_clock);
        QVERIFY(m_smc->open());
    }

    std::shared_ptr<FakePausingClock> m_clock;
    std::shared_ptr<SmcSimulator> m_sim;
    std::unique_ptr<AppleSMC> m_smc;
};

BRISKO_TEST(tst_AppleSMC)
#include "tst_AppleSMC.moc"
