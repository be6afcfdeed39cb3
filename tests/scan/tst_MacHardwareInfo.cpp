#include "BriskoTest.h"
#include "scan/MacHardwareInfo.h"

#include <QHash>
#include <QTest>

namespace {

// Facts as a test sets them; a name that was not set cannot be read.
class FakeSystemFacts : public SystemFacts
{
public:
    std::optional<QString> string(const QString& name) const override
    {
        const auto it = strings.constFind(name);
        return it == strings.cend() ? std::nullopt : std::optional<QString>(*it);
    }
    std::optional<quint64> integer(const QString& name) const override
    {
        const auto it = integers.constFind(name);
        return it == integers.cend() ? std::nullopt : std::optional<quint64>(*it);
    }
    qint64 processorCount() const override { return logicalProcessors; }
    quint64 physicalMemory() const override { return memory; }
    OsVersion osVersion() const override { return os; }

    QHash<QString, QString> strings;
    QHash<QString, quint64> integers;
    qint64 logicalProcessors = 8;
    quint64 memory = quint64(8) << 30;
    OsVersion os{QStringLiteral("macOS"), 14, 2, 1};
};

const QString model = QStringLiteral("hw.model");
const QString brand = QStringLiteral("machdep.cpu.brand_string");
const QString physicalCpu = QStringLiteral("hw.physicalcpu");

FakeSystemFacts machine(const QString& modelIdentifier, const QString& processorBrand)
{
    FakeSystemFacts facts;
    facts.strings.insert(model, modelIdentifier);
    facts.strings.insert(brand, processorBrand);
    facts.integers.insert(physicalCpu, 8);
    return facts;
}

} // namespace

class tst_MacHardwareInfo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void marketingName_data();
    void marketingName();
    void chipLabel_data();
    void chipLabel();
    void missingFactsAndTheirFallbacks();
    void memoryInWholeGibibytes_data();
    void memoryInWholeGibibytes();
    void chipNameIsTrimmedBrandAndOsVersionIsText();
};

// Each row: the model identifier and processor brand, the name shown and
// whether the machine counts as a notebook.
void tst_MacHardwareInfo::marketingName_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("brand");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("notebook");

    const QString m1 = QStringLiteral("Apple M1");
    const QString xeon = QStringLiteral("Intel(R) Xeon(R) W-2140B CPU @ 3.20GHz");
    QTest::newRow("MacBook Air M1") << "MacBookAir10,1" << m1 << "MacBook Air (Apple M1)" << true;
    QTest::newRow("Mac14,2 M2") << "Mac14,2" << "Apple M2" << "MacBook Pro (Apple M2)" << true;
    QTest::newRow("MacBook Pro M1 Pro") << "MacBookPro18,3" << "Apple M1 Pro" << "MacBook Pro (Apple M1)" << true;
    QTest::newRow("iMac Pro is an iMac") << "iMacPro1,1" << xeon << "iMac (Intel)" << false;
    QTest::newRow("Mac mini") << "Macmini9,1" << m1 << "Mac mini (Apple M1)" << true;
    QTest::newRow("Mac Studio") << "Mac Studio" << "Apple M1 Max" << "Mac Studio (Apple M1)" << true;
    QTest::newRow("family test ignores case") << "MACBOOKAIR10,1" << m1 << "MacBook Air (Apple M1)" << true;
    // Any other identifier starting with "mac" is taken for a MacBook Pro;
    // every one starting with "Mac" counts as a notebook, the desktops included.
    QTest::newRow("other Mac") << "MacPro7,1" << xeon << "MacBook Pro (Intel)" << true;
    QTest::newRow("Mac prefix of a notebook is case-sensitive") << "mac14,2" << m1 << "MacBook Pro (Apple M1)" << false;
    QTest::newRow("unknown family keeps the identifier")
        << "PowerEdge R740" << "Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz" << "PowerEdge R740 (Intel)" << false;
    QTest::newRow("book in any case") << "HP EliteBOOK 840 G8" << m1 << "HP EliteBOOK 840 G8 (Apple M1)" << true;
    QTest::newRow("unknown family, unmatched brand")
        << "ThinkPad X13 Gen 2a" << "AMD Ryzen 7 PRO 5850U with Radeon Graphics"
        << "ThinkPad X13 Gen 2a (AMD Ryzen 7 PRO 5850U with Radeon Graphics)" << false;
}

void tst_MacHardwareInfo::marketingName()
{
    QFETCH(QString, model);
    QFETCH(QString, brand);
    QFETCH(QString, name);
    QFETCH(bool, notebook);
    QCOMPARE(MacHardwareInfo::marketingNameFor(model, brand), name);
    const MacHardwareInfo info = MacHardwareInfo::current(machine(model, brand));
    QCOMPARE(info.marketingName, name);
    QCOMPARE(info.isNotebook, notebook);
}

void tst_MacHardwareInfo::chipLabel_data()
{
    QTest::addColumn<QString>("brand");
    QTest::addColumn<QString>("label");

    QTest::newRow("M1") << QStringLiteral("Apple M1") << QStringLiteral("Apple M1");
    QTest::newRow("M2 Max") << QStringLiteral("Apple M2 Max") << QStringLiteral("Apple M2");
    QTest::newRow("lower case") << QStringLiteral("apple m2") << QStringLiteral("Apple M2");
    // The newest generation is tested first.
    QTest::newRow("M5 before M1") << QStringLiteral("Apple M5 (m1 compatible)") << QStringLiteral("Apple M5");
    QTest::newRow("Intel Core i7") << QStringLiteral("Intel(R) Core(TM) i7-9750H CPU @ 2.60GHz") << QStringLiteral("Intel");
    // The Apple tests come before "intel", whatever the brand really is.
    QTest::newRow("Core m3 reads as M3") << QStringLiteral("Intel(R) Core(TM) m3-6Y30 CPU @ 0.90GHz")
                                         << QStringLiteral("Apple M3");
    QTest::newRow("text before @") << QStringLiteral("AMD EPYC 7B12 @ 2.25GHz") << QStringLiteral("AMD EPYC 7B12");
    QTest::newRow("only the first @") << QStringLiteral(" Fancy CPU @ 3GHz @ turbo") << QStringLiteral("Fancy CPU");
    QTest::newRow("nothing before @") << QStringLiteral("@ 2GHz") << QString();
    QTest::newRow("fallback brand") << QStringLiteral("Apple Silicon") << QStringLiteral("Apple Silicon");
}

void tst_MacHardwareInfo::chipLabel()
{
    QFETCH(QString, brand);
    QFETCH(QString, label);
    QCOMPARE(MacHardwareInfo::chipLabel(brand), label);
}

void tst_MacHardwareInfo::missingFactsAndTheirFallbacks()
{
    FakeSystemFacts facts;
    facts.integers.insert(physicalCpu, 10);
    facts.logicalProcessors = 3;
    const MacHardwareInfo info = MacHardwareInfo::current(facts);
    QCOMPARE(info.modelIdentifier, QStringLiteral("unknown"));
    QCOMPARE(info.chipName, QStringLiteral("Apple Silicon"));
    QCOMPARE(info.marketingName, QStringLiteral("unknown (Apple Silicon)"));
    QVERIFY(!info.isNotebook);
    QCOMPARE(info.processorCount, qint64(10));

    facts.strings.insert(model, QStringLiteral("MacBookAir10,1"));
    facts.integers.remove(physicalCpu);
    QCOMPARE(MacHardwareInfo::current(facts).marketingName, QStringLiteral("MacBook Air (Apple Silicon)"));
    // Without the physical count, the logical one.
    QCOMPARE(MacHardwareInfo::current(facts).processorCount, qint64(3));
}

void tst_MacHardwareInfo::memoryInWholeGibibytes_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<qint64>("gigabytes");

    QTest::newRow("512 MiB") << (quint64(512) << 20) << qint64(1);
    QTest::newRow("nothing known") << quint64(0) << qint64(1);
    QTest::newRow("fraction dropped") << ((quint64(16) << 30) + (quint64(1023) << 20)) << qint64(16);
    QTest::newRow("usable 7.7 GiB of 8") << quint64(8'270'000'000) << qint64(7);
}

void tst_MacHardwareInfo::memoryInWholeGibibytes()
{
    QFETCH(quint64, bytes);
    QFETCH(qint64, gigabytes);
    FakeSystemFacts facts = machine(QStringLiteral("Macmini9,1"), QStringLiteral("Apple M1"));
    facts.memory = bytes;
    QCOMPARE(MacHardwareInfo::current(facts).memoryGB, gigabytes);
}

void tst_MacHardwareInfo::chipNameIsTrimmedBrandAndOsVersionIsText()
{
    FakeSystemFacts facts = machine(QStringLiteral("MacBookPro18,3"), QStringLiteral("\n\t Apple M1 Pro \r\n"));
    const MacHardwareInfo info = MacHardwareInfo::current(facts);
    QCOMPARE(info.chipName, QStringLiteral("Apple M1 Pro"));
    QCOMPARE(info.marketingName, QStringLiteral("MacBook Pro (Apple M1)"));
    QCOMPARE(info.osVersion, QStringLiteral("macOS 14.2.1"));

    // The naming rule gets the brand as read: only spaces are trimmed there.
    facts.strings.insert(brand, QStringLiteral("\tFancy CPU @ 3GHz"));
    facts.os = OsVersion{QStringLiteral("Linux"), 6, 18, 0};
    const MacHardwareInfo fancy = MacHardwareInfo::current(facts);
    QCOMPARE(fancy.chipName, QStringLiteral("Fancy CPU @ 3GHz"));
    QCOMPARE(fancy.marketingName, QStringLiteral("MacBook Pro (\tFancy CPU)"));
    QCOMPARE(fancy.osVersion, QStringLiteral("Linux 6.18.0"));
}

BRISKO_TEST(tst_MacHardwareInfo)
#include "tst_MacHardwareInfo.moc"
