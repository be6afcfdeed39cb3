#include "BriskoTest.h"
#include "FakePausingClock.h"
#include "fans/AppleSMC.h"
#include "fans/SmcSimulator.h"

#include <QtEndian>
#include <QtTest>

#include <atomic>
#include <cmath>

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

} // namespace

class tst_AppleSMC : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<FakePausingClock> m_clock;
    std::shared_ptr<SmcSimulator> simulator(const char* profile)
    {
        return SmcSimulator::create(QLatin1String(profile), m_clock);
    }

private Q_SLOTS:
    void init() { m_clock = std::make_shared<FakePausingClock>(); }

    void paramStructLaysOutFieldsAtFixedOffsets();
    void keyCodes_data();
    void keyCodes();
    void typeTextIsMacRoman();
    void decodeTemperature_data();
    void decodeTemperature();
    void decodeRPM_data();
    void decodeRPM();
    void encodeRPM_data();
    void encodeRPM();
    void decodeUInt8();

    void openFindsTheServiceAndCloses();
    void badKeysAndClosedConnectionsNeverReachTheController();
    void readAndWriteThroughTheSimulator();
    void writeSendsTheSizeOfTheKeyNotOfTheData();
    void modeAndTargetKeysPreferLowerCase();
    void canWriteProbesFanZeroTarget();
    void tryEnterManualDirect();
    void unlockWaitsForTheFirmwareOnTheFakeClock();
};

void tst_AppleSMC::paramStructLaysOutFieldsAtFixedOffsets()
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
}

void tst_AppleSMC::keyCodes_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<qint64>("code"); // -1: refused

    QTest::newRow("FNum") << QStringLiteral("FNum") << qint64(0x464E756D);
    QTest::newRow("with blank") << QStringLiteral("flt ") << qint64(0x666C7420);
    QTest::newRow("Latin-1 letter") << QStringLiteral("T\u00E9st") << qint64(0x54E97374);
    QTest::newRow("three characters") << QStringLiteral("FNu") << qint64(-1);
    QTest::newRow("five characters") << QStringLiteral("F10Ac") << qint64(-1);
    QTest::newRow("empty") << QString() << qint64(-1);
    QTest::newRow("Cyrillic look-alike") << QStringLiteral("ТС0Р") << qint64(-1);
    QTest::newRow("astral character counts once") << QStringLiteral("F\U0001F300A") << qint64(-1);
}

void tst_AppleSMC::keyCodes()
{
    QFETCH(QString, key);
    QFETCH(qint64, code);
    const std::optional<quint32> actual = AppleSMC::keyCode(key);
    if (code < 0) {
        QVERIFY(!actual);
    } else {
        QVERIFY(actual);
        QCOMPARE(qint64(*actual), code);
    }
}

void tst_AppleSMC::typeTextIsMacRoman()
{
    QCOMPARE(AppleSMC::typeText(SMCParamStruct::fourCharCode("ch8*")), QStringLiteral("ch8*"));
    // 0xA5 is a bullet and 0x8A an a-umlaut in Mac OS Roman, not Latin-1.
    QCOMPARE(AppleSMC::typeText(0xA5618A63), QStringLiteral("\u2022a\u00E4c"));
}

void tst_AppleSMC::decodeTemperature_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("type");
    QTest::addColumn<double>("celsius"); // NaN: no value

    const double none = std::nan("");
    QTest::newRow("sp78 58.5") << hex("3A80") << "sp78" << 58.5;
    QTest::newRow("sp78 negative") << hex("F600") << "sp78" << -10.0;
    QTest::newRow("sp78 exactly -40") << hex("D800") << "sp78" << none;
    QTest::newRow("only the first two bytes count") << hex("3A80FFFF") << "sp78" << 58.5;
    QTest::newRow("one byte") << hex("3A") << "sp78" << none;
    QTest::newRow("empty") << QByteArray() << "sp78" << none;
    QTest::newRow("float 45.25") << floatBytes(45.25f) << "flt " << 45.25;
    QTest::newRow("flo prefix is a float") << floatBytes(45.25f) << "flo?" << 45.25;
    QTest::newRow("float 129.9") << floatBytes(129.9f) << "flt " << double(129.9f);
    QTest::newRow("float exactly 130") << floatBytes(130.0f) << "flt " << none;
    QTest::newRow("float exactly -40") << floatBytes(-40.0f) << "flt " << none;
    QTest::newRow("float NaN") << floatBytes(std::nanf("")) << "flt " << none;
    QTest::newRow("short float uses 8.8") << hex("3A80") << "flt " << 58.5;
}

void tst_AppleSMC::decodeTemperature()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, type);
    QFETCH(double, celsius);
    const std::optional<double> actual = AppleSMC::decodeTemperature(bytes, type);
    if (std::isnan(celsius)) {
        QVERIFY2(!actual, qPrintable(QString::number(actual.value_or(0))));
    } else {
        QVERIFY(actual);
        QCOMPARE(*actual, celsius);
    }
}

void tst_AppleSMC::decodeRPM_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("rpm"); // -1: no value

    QTest::newRow("float rounds half away from zero") << floatBytes(1234.5f) << "flt " << 1235;
    QTest::newRow("float 20000.4") << floatBytes(20000.4f) << "flt " << 20000;
    QTest::newRow("float 20000.6 is dropped") << floatBytes(20000.6f) << "flt " << -1;
    QTest::newRow("float NaN") << floatBytes(std::nanf("")) << "flt " << -1;
    QTest::newRow("float infinity") << floatBytes(INFINITY) << "flt " << -1;
    QTest::newRow("float negative") << floatBytes(-5.0f) << "flt " << -1;
    // Intel fan speeds: 2000 rpm is 0x1F40 in 14.2 fixed point.
    QTest::newRow("fpe2 2000") << hex("1F40") << "fpe2" << 2000;
    QTest::newRow("fpe2 6200.75") << hex("60E3") << "fpe2" << 6200;
    QTest::newRow("fpe2 one byte") << hex("1F") << "fpe2" << -1;
    QTest::newRow("other type: first byte") << hex("C812") << "ui16" << 200;
    QTest::newRow("other type: one byte") << hex("C8") << "ui8 " << -1;
}

void tst_AppleSMC::decodeRPM()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, type);
    QFETCH(int, rpm);
    const std::optional<int> actual = AppleSMC::decodeRPM(bytes, type);
    if (rpm < 0) {
        QVERIFY(!actual);
    } else {
        QCOMPARE(actual, std::optional<int>(rpm));
    }
}

void tst_AppleSMC::encodeRPM_data()
{
    QTest::addColumn<int>("rpm");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("bytes"); // empty: refused

    QTest::newRow("float") << 2500 << "flt " << floatBytes(2500.0f);
    QTest::newRow("float above the limit") << 25000 << "flt " << floatBytes(20000.0f);
    QTest::newRow("float negative") << -20 << "flt " << floatBytes(0.0f);
    QTest::newRow("fpe2") << 2000 << "fpe2" << hex("1F40");
    QTest::newRow("fpe2 negative") << -1 << "fpe2" << hex("0000");
    QTest::newRow("fpe2 above range") << 20000 << "fpe2" << hex("FFFC");
    QTest::newRow("one byte") << 200 << "ui8 " << hex("C800");
    QTest::newRow("one byte negative") << -5 << "ui8 " << hex("0000");
    QTest::newRow("one byte too large") << 300 << "ui8 " << QByteArray();
}

void tst_AppleSMC::encodeRPM()
{
    QFETCH(int, rpm);
    QFETCH(QString, type);
    QFETCH(QByteArray, bytes);
    const std::optional<QByteArray> actual = AppleSMC::encodeRPM(rpm, type);
    if (bytes.isEmpty()) {
        QVERIFY(!actual);
        return;
    }
    QVERIFY(actual);
    QCOMPARE(actual->toHex(), bytes.toHex());
    if (type == QLatin1String("fpe2") && rpm >= 0 && rpm <= 0x3FFF) {
        QCOMPARE(AppleSMC::decodeRPM(*actual, type), std::optional<int>(rpm));
    }
}

void tst_AppleSMC::decodeUInt8()
{
    QCOMPARE(AppleSMC::decodeUInt8(hex("02FF")), std::optional<int>(2));
    QCOMPARE(AppleSMC::decodeUInt8(hex("FF")), std::optional<int>(255));
    QVERIFY(!AppleSMC::decodeUInt8(QByteArray()));
}

void tst_AppleSMC::openFindsTheServiceAndCloses()
{
    const auto sim = simulator("intel");
    {
        AppleSMC smc(sim, m_clock);
        QCOMPARE(smc.connection(), 0u);
        QVERIFY(smc.open());
        const quint32 first = smc.connection();
        QVERIFY(first != 0);
        // Opening again replaces the connection instead of leaking it.
        QVERIFY(smc.open());
        QVERIFY(smc.connection() != first);
        QCOMPARE(sim->openConnectionCount(), 1);
    }
    QCOMPARE(sim->openConnectionCount(), 0);

    AppleSMC nothing(nullptr, m_clock);
    QVERIFY(!nothing.open());
    QVERIFY(!nothing.keyInfo(QStringLiteral("FNum")));
}

void tst_AppleSMC::badKeysAndClosedConnectionsNeverReachTheController()
{
    const auto counting = std::make_shared<CountingTransport>(simulator("intel"));
    AppleSMC smc(counting, m_clock);
    QVERIFY(!smc.keyInfo(QStringLiteral("FNum")));
    QVERIFY(!smc.readKey(QStringLiteral("FNum")));
    QVERIFY(!smc.writeUInt8(QStringLiteral("F0Md"), 1));
    QCOMPARE(counting->calls.load(), 0);

    QVERIFY(smc.open());
    for (const QString& key : {QStringLiteral("FNu"), QStringLiteral("F10Ac"), QString()}) {
        QVERIFY(!smc.keyInfo(key));
        QVERIFY(!smc.readKey(key));
        QVERIFY(!smc.writeKey(key, QByteArray(1, '\1')));
        QVERIFY(!smc.writeUInt8(key, 1));
    }
    QCOMPARE(counting->calls.load(), 0);
    QVERIFY(!smc.tryEnterManualDirect(QStringLiteral("F0Md"), 0));
    QCOMPARE(counting->calls.load(), 0);
}

void tst_AppleSMC::readAndWriteThroughTheSimulator()
{
    const auto sim = simulator("intel");
    AppleSMC smc(sim, m_clock);
    QVERIFY(smc.open());

    const std::optional<AppleSMC::KeyInfo> info = smc.keyInfo(QStringLiteral("F0Ac"));
    QVERIFY(info);
    QCOMPARE(info->dataSize, 2u);
    QCOMPARE(info->dataType, QStringLiteral("fpe2"));
    QCOMPARE(smc.readKey(QStringLiteral("FNum")), std::optional<QByteArray>(hex("02")));
    QVERIFY(!smc.keyInfo(QStringLiteral("Ftst")));
    QVERIFY(!smc.readKey(QStringLiteral("Ftst")));

    // Read-only keys refuse writes with the controller's own code.
    QVERIFY(!smc.writeKey(QStringLiteral("F0Mx"), hex("FFFC")));
    QCOMPARE(sim->value("F0Mx")->toHex(), QByteArray("5aa0"));

    QVERIFY(smc.writeUInt8(QStringLiteral("F0Md"), 1));
    QVERIFY(smc.writeKey(QStringLiteral("F0Tg"), hex("2EE0")));
    QCOMPARE(sim->targetRPM(0), std::optional<int>(3000));
    QCOMPARE(smc.readKey(QStringLiteral("F0Ac")), std::optional<QByteArray>(hex("2EE0")));

    sim->setWritesRefused(true);
    QVERIFY(!smc.writeUInt8(QStringLiteral("F0Md"), 0));
    QCOMPARE(sim->fanMode(0), 1);
}

void tst_AppleSMC::writeSendsTheSizeOfTheKeyNotOfTheData()
{
    const auto sim = simulator("m5");
    AppleSMC smc(sim, m_clock);
    QVERIFY(smc.open());
    QVERIFY(smc.writeKey(QStringLiteral("F0Tg"), hex("AB")));
    QCOMPARE(sim->value("F0Tg")->toHex(), QByteArray("ab000000"));
    // Only the first 32 bytes travel.
    sim->defineKey("Blob", "ch8*", QByteArray(32, 'x'), true);
    QVERIFY(smc.writeKey(QStringLiteral("Blob"), QByteArray(40, 'y')));
    QCOMPARE(*sim->value("Blob"), QByteArray(32, 'y'));
}

void tst_AppleSMC::modeAndTargetKeysPreferLowerCase()
{
    const auto intel = simulator("intel");
    AppleSMC smc(intel, m_clock);
    QVERIFY(smc.open());
    QCOMPARE(smc.fanModeKey(0), std::optional<QString>(QStringLiteral("F0Md")));
    QCOMPARE(smc.fanTargetKey(1), std::optional<QString>(QStringLiteral("F1Tg")));
    QVERIFY(!smc.fanModeKey(2));
    intel->defineKey("F0md", "ui8 ", hex("00"), true);
    intel->defineKey("F0tg", "fpe2", hex("0000"), true);
    QCOMPARE(smc.fanModeKey(0), std::optional<QString>(QStringLiteral("F0md")));
    QCOMPARE(smc.fanTargetKey(0), std::optional<QString>(QStringLiteral("F0tg")));

    AppleSMC m5(simulator("m5"), m_clock);
    QVERIFY(m5.open());
    QCOMPARE(m5.fanModeKey(0), std::optional<QString>(QStringLiteral("F0md")));
}

void tst_AppleSMC::canWriteProbesFanZeroTarget()
{
    const auto intel = simulator("intel");
    AppleSMC smc(intel, m_clock);
    QVERIFY(smc.open());
    QVERIFY(intel->targetRPM(0) != 0);
    QVERIFY(smc.canWrite());
    QCOMPARE(intel->targetRPM(0), std::optional<int>(0));

    intel->setWritesRefused(true);
    QVERIFY(!smc.canWrite());

    AppleSMC fanless(simulator("fanless"), m_clock);
    QVERIFY(fanless.open());
    QVERIFY(!fanless.canWrite());
}

void tst_AppleSMC::tryEnterManualDirect()
{
    AppleSMC intel(simulator("intel"), m_clock);
    QVERIFY(intel.open());
    QVERIFY(intel.tryEnterManualDirect(QStringLiteral("F0Md"), 20));
    QCOMPARE(m_clock->pauses(), 0);

    // The M1–M4 firmware ignores the write until it has been unlocked: every
    // try fails, with a tenth of a second between tries.
    const auto held = simulator("m1-m4");
    AppleSMC smc(held, m_clock);
    QVERIFY(smc.open());
    QVERIFY(!smc.tryEnterManualDirect(QStringLiteral("F0Md"), 20));
    QCOMPARE(m_clock->pauses(), 19);
    QCOMPARE(m_clock->pausedMs(), 1900);
    QCOMPARE(held->writeCount("F0Md"), 20);
    QCOMPARE(held->fanMode(0), int(SmcSimulator::modeHeldBySystem));

    QVERIFY(!smc.tryEnterManualDirect(QStringLiteral("Fxxx"), 3));
}

void tst_AppleSMC::unlockWaitsForTheFirmwareOnTheFakeClock()
{
    const auto sim = simulator("m1-m4");
    AppleSMC smc(sim, m_clock);
    QVERIFY(smc.open());
    QVERIFY(smc.unlockFanControl(1));
    QCOMPARE(sim->fanMode(1), 1);
    QCOMPARE(sim->value("Ftst"), std::optional<QByteArray>(hex("01")));
    // Polls of 200 ms until the firmware let go after 1.5 s; not the whole 10 s.
    QCOMPARE(m_clock->pausedMs(), qint64(SmcSimulator::unlockDelayMs + 100));

    AppleSMC intel(simulator("intel"), m_clock);
    QVERIFY(intel.open());
    QVERIFY(!intel.unlockFanControl(0));
}

BRISKO_TEST(tst_AppleSMC)
#include "tst_AppleSMC.moc"
