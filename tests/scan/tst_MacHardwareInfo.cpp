#include "BriskoTest.h"
#include "scan/MacHardwareInfo.h"

#include <QHash>
#include <QTest>

using namespace Qt::StringLiterals;

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
    OsVersion os{u"macOS"_s, 14, 2, 1};
};

const QString model = u"hw.model"_s;
const QString brand = u"machdep.cpu.brand_string"_s;
const QString physicalCpu = u"hw.physicalcpu"_s;

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
    const auto row = [](const char* tag, const char* model, const char* brand, const char* name,
                        bool notebook) {
        QTest::newRow(tag) << QString::fromUtf8(model) << QString::fromUtf8(brand) << QString::fromUtf8(name)
                           << notebook;
    };
    const char* xeon = "Intel(R) Xeon(R) W-2140B CPU @ 3.20GHz";
    row("MacBook Air M1", "MacBookAir10,1", "Apple M1", "MacBook Air (Apple M1)", true);
    row("Mac14,2 M2", "Mac14,2", "Apple M2", "MacBook Pro (Apple M2)", true);
    row("MacBook Pro M1 Pro", "MacBookPro18,3", "Apple M1 Pro", "MacBook Pro (Apple M1)", true);
    row("iMac Pro is an iMac", "iMacPro1,1", xeon, "iMac (Intel)", false);
    row("Mac mini", "Macmini9,1", "Apple M1", "Mac mini (Apple M1)", true);
    row("Mac Studio", "Mac Studio", "Apple M1 Max", "Mac Studio (Apple M1)", true);
    row("family test ignores case", "MACBOOKAIR10,1", "Apple M1", "MacBook Air (Apple M1)", true);
    // Any other identifier starting with "mac" is taken for a MacBook Pro;
    // every one starting with "Mac" counts as a notebook, the desktops included.
    row("other Mac", "MacPro7,1", xeon, "MacBook Pro (Intel)", true);
    row("Mac prefix of a notebook is case-sensitive", "mac14,2", "Apple M1", "MacBook Pro (Apple M1)", false);
    row("unknown family keeps the identifier", "PowerEdge R740", "Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz",
        "PowerEdge R740 (Intel)", false);
    row("book in any case", "HP EliteBOOK 840 G8", "Apple M1", "HP EliteBOOK 840 G8 (Apple M1)", true);
    row("unknown family, unmatched brand", "ThinkPad X13 Gen 2a",
        "AMD Ryzen 7 PRO 5850U with Radeon Graphics",
        "ThinkPad X13 Gen 2a (AMD Ryzen 7 PRO 5850U with Radeon Graphics)", false);
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
    QTest::newRow("M1") << u"Apple M1"_s << u"Apple M1"_s;
    QTest::newRow("M2 Max") << u"Apple M2 Max"_s << u"Apple M2"_s;
    QTest::newRow("lower case") << u"apple m2"_s << u"Apple M2"_s;
    // The newest generation is tested first.
    QTest::newRow("M5 before M1") << u"Apple M5 (m1 compatible)"_s << u"Apple M5"_s;
    QTest::newRow("Intel Core i7") << u"Intel(R) Core(TM) i7-9750H CPU @ 2.60GHz"_s << u"Intel"_s;
    // The Apple tests come before "intel", whatever the brand really is.
    QTest::newRow("Core m3 reads as M3") << u"Intel(R) Core(TM) m3-6Y30 CPU @ 0.90GHz"_s << u"Apple M3"_s;
    QTest::newRow("text before @") << u"AMD EPYC 7B12 @ 2.25GHz"_s << u"AMD EPYC 7B12"_s;
    QTest::newRow("only the first @") << u" Fancy CPU @ 3GHz @ turbo"_s << u"Fancy CPU"_s;
    QTest::newRow("nothing before @") << u"@ 2GHz"_s << QString();
    QTest::newRow("fallback brand") << u"Apple Silicon"_s << u"Apple Silicon"_s;
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
    MacHardwareInfo info = MacHardwareInfo::current(facts);
    QCOMPARE((QStringList{info.modelIdentifier, info.chipName, info.marketingName}),
             (QStringList{u"unknown"_s, u"Apple Silicon"_s, u"unknown (Apple Silicon)"_s}));
    QVERIFY(!info.isNotebook);
    QCOMPARE(info.processorCount, qint64(10));

    facts.strings.insert(model, u"MacBookAir10,1"_s);
    facts.integers.remove(physicalCpu);
    info = MacHardwareInfo::current(facts);
    QCOMPARE(info.marketingName, u"MacBook Air (Apple Silicon)"_s);
    // Without the physical count, the logical one.
    QCOMPARE(info.processorCount, qint64(3));

    // Memory in whole gibibytes, the fraction dropped, never below one.
    const QList<std::pair<quint64, qint64>> memory = {{quint64(512) << 20, 1},
                                                      {0, 1},
                                                      {(quint64(16) << 30) + (quint64(1023) << 20), 16},
                                                      {8'270'000'000, 7}};
    for (const auto& [bytes, gigabytes] : memory) {
        facts.memory = bytes;
        QCOMPARE(MacHardwareInfo::current(facts).memoryGB, gigabytes);
    }
}

void tst_MacHardwareInfo::chipNameIsTrimmedBrandAndOsVersionIsText()
{
    FakeSystemFacts facts = machine(u"MacBookPro18,3"_s, u"\n\t Apple M1 Pro \r\n"_s);
    const MacHardwareInfo info = MacHardwareInfo::current(facts);
    QCOMPARE((QStringList{info.chipName, info.marketingName, info.osVersion}),
             (QStringList{u"Apple M1 Pro"_s, u"MacBook Pro (Apple M1)"_s, u"macOS 14.2.1"_s}));

    // The naming rule gets the brand as read: only spaces are trimmed there.
    facts.strings.insert(brand, u"\tFancy CPU @ 3GHz"_s);
    facts.os = OsVersion{u"Linux"_s, 6, 18, 0};
    const MacHardwareInfo fancy = MacHardwareInfo::current(facts);
    QCOMPARE((QStringList{fancy.chipName, fancy.marketingName, fancy.osVersion}),
             (QStringList{u"Fancy CPU @ 3GHz"_s, u"MacBook Pro (\tFancy CPU)"_s, u"Linux 6.18.0"_s}));
}

BRISKO_TEST(tst_MacHardwareInfo)
#include "tst_MacHardwareInfo.moc"
