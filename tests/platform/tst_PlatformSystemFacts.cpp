#include "BriskoTest.h"
#include "platform/PlatformSystemFacts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

// One /proc/cpuinfo block per logical processor, as x86 kernels write them.
QByteArray x86Processor(int processor, int package, int core, const QByteArray& brand)
{
    return "processor\t: " + QByteArray::number(processor)
        + "\nvendor_id\t: GenuineIntel\ncpu family\t: 6\nmodel\t\t: 62\nmodel name\t: " + brand
        + "\nstepping\t: 4\ncpu MHz\t\t: 2800.000\ncache size\t: 25600 KB\nphysical id\t: "
        + QByteArray::number(package) + "\nsiblings\t: 4\ncore id\t\t: " + QByteArray::number(core)
        + "\ncpu cores\t: 2\napicid\t\t: " + QByteArray::number(processor)
        + "\nflags\t\t: fpu vme de pse tsc msr pae mce cx8 apic sep mtrr ht\nbogomips\t: 5600.00\n\n";
}

// Two packages, two cores each, two threads per core: 8 logical, 4 physical.
// Core ids repeat across packages, as they do on real machines.
QByteArray twoPackageCpuinfo(const QByteArray& brand)
{
    QByteArray text;
    int processor = 0;
    for (int thread = 0; thread < 2; ++thread) {
        for (int package = 0; package < 2; ++package) {
            for (int core = 0; core < 2; ++core) {
                text += x86Processor(processor++, package, core, brand);
            }
        }
    }
    return text;
}

// An ARM board: no model name, no core ids, the board in "Model".
const QByteArray armCpuinfo = "processor\t: 0\nBogoMIPS\t: 108.00\nFeatures\t: fp asimd evtstrm crc32 cpuid\n"
                              "CPU implementer\t: 0x41\nCPU architecture: 8\nCPU part\t: 0xd08\n\n"
                              "processor\t: 1\nBogoMIPS\t: 108.00\nFeatures\t: fp asimd evtstrm crc32 cpuid\n"
                              "CPU implementer\t: 0x41\nCPU architecture: 8\nCPU part\t: 0xd08\n\n"
                              "Hardware\t: BCM2835\nRevision\t: c03114\nSerial\t\t: 100000002a5b3c4d\n"
                              "Model\t\t: Raspberry Pi 4 Model B Rev 1.4\n";

} // namespace

class tst_PlatformSystemFacts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void modelFromDmiProductName();
    void brandAndPhysicalCoresFromX86Cpuinfo();
    void cpuinfoWithoutCoreIds();
    void singleProcessorWithoutTrailingNewline();
    void missingFilesGiveNothing();
    void unknownNamesGiveNothing();
    void kernelRelease_data();
    void kernelRelease();
    void runningMachine();

private:
    void write(const QString& relative, const QByteArray& bytes);
    std::unique_ptr<QTemporaryDir> m_root;
};

void tst_PlatformSystemFacts::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
}

void tst_PlatformSystemFacts::cleanup()
{
    m_root.reset();
}

void tst_PlatformSystemFacts::write(const QString& relative, const QByteArray& bytes)
{
    const QString path = m_root->filePath(relative);
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

void tst_PlatformSystemFacts::modelFromDmiProductName()
{
    const QString productName = QStringLiteral("sys/class/dmi/id/product_name");
    const PlatformSystemFacts facts(m_root->path());

    write(productName, "MacBookAir10,1\n");
    QCOMPARE(facts.string(QStringLiteral("hw.model")), std::optional<QString>(QStringLiteral("MacBookAir10,1")));

    write(productName, "  Macmini9,1 \t\n\n");
    QCOMPARE(facts.string(QStringLiteral("hw.model")), std::optional<QString>(QStringLiteral("Macmini9,1")));

    // Firmware that leaves the field blank has no model.
    write(productName, " \n");
    QCOMPARE(facts.string(QStringLiteral("hw.model")), std::nullopt);
    write(productName, QByteArray());
    QCOMPARE(facts.string(QStringLiteral("hw.model")), std::nullopt);

    write(productName, "Ноутбук Про 14\n");
    QCOMPARE(facts.string(QStringLiteral("hw.model")), std::optional<QString>(QStringLiteral("Ноутбук Про 14")));
}

void tst_PlatformSystemFacts::brandAndPhysicalCoresFromX86Cpuinfo()
{
    const QByteArray brand = "Intel(R) Xeon(R) CPU E5-2680 v2 @ 2.80GHz";
    write(QStringLiteral("proc/cpuinfo"), twoPackageCpuinfo(brand));
    const PlatformSystemFacts facts(m_root->path());

    QCOMPARE(facts.string(QStringLiteral("machdep.cpu.brand_string")), std::optional<QString>(QString::fromLatin1(brand)));
    QCOMPARE(facts.integer(QStringLiteral("hw.physicalcpu")), std::optional<quint64>(4));

    // One package, four cores, no hyper-threading.
    QByteArray single;
    for (int core = 0; core < 4; ++core) {
        single += x86Processor(core, 0, core, "AMD Ryzen 5 3600 6-Core Processor");
    }
    write(QStringLiteral("proc/cpuinfo"), single);
    QCOMPARE(facts.integer(QStringLiteral("hw.physicalcpu")), std::optional<quint64>(4));
    QCOMPARE(facts.string(QStringLiteral("machdep.cpu.brand_string")),
             std::optional<QString>(QStringLiteral("AMD Ryzen 5 3600 6-Core Processor")));
}

void tst_PlatformSystemFacts::cpuinfoWithoutCoreIds()
{
    write(QStringLiteral("proc/cpuinfo"), armCpuinfo);
    const PlatformSystemFacts facts(m_root->path());
    QCOMPARE(facts.string(QStringLiteral("machdep.cpu.brand_string")),
             std::optional<QString>(QStringLiteral("Raspberry Pi 4 Model B Rev 1.4")));
    // Without core ids the physical count is unknown, so callers fall back
    // to the logical count rather than reading a wrong number.
    QCOMPARE(facts.integer(QStringLiteral("hw.physicalcpu")), std::nullopt);

    // Only "Hardware" left.
    write(QStringLiteral("proc/cpuinfo"), "processor\t: 0\nHardware\t: Allwinner sun50i\n");
    QCOMPARE(facts.string(QStringLiteral("machdep.cpu.brand_string")),
             std::optional<QString>(QStringLiteral("Allwinner sun50i")));

    // Nothing that names the processor.
    write(QStringLiteral("proc/cpuinfo"), "processor\t: 0\nBogoMIPS\t: 50.00\nmodel name\t:\n");
    QCOMPARE(facts.string(QStringLiteral("machdep.cpu.brand_string")), std::nullopt);
}

void tst_PlatformSystemFacts::singleProcessorWithoutTrailingNewline()
{
    write(QStringLiteral("proc/cpuinfo"),
          "processor\t: 0\nmodel name\t:   Apple M1  \nphysical id\t: 0\ncore id\t\t: 0");
    const PlatformSystemFacts facts(m_root->path());
    QCOMPARE(facts.string(QStringLiteral("machdep.cpu.brand_string")), std::optional<QString>(QStringLiteral("Apple M1")));
    QCOMPARE(facts.integer(QStringLiteral("hw.physicalcpu")), std::optional<quint64>(1));
}

void tst_PlatformSystemFacts::missingFilesGiveNothing()
{
    const PlatformSystemFacts facts(m_root->path());
    QCOMPARE(facts.string(QStringLiteral("hw.model")), std::nullopt);
    QCOMPARE(facts.string(QStringLiteral("machdep.cpu.brand_string")), std::nullopt);
    QCOMPARE(facts.integer(QStringLiteral("hw.physicalcpu")), std::nullopt);

    // A folder where the file should be reads as missing too.
    QVERIFY(QDir().mkpath(m_root->filePath(QStringLiteral("proc/cpuinfo"))));
    QCOMPARE(facts.string(QStringLiteral("machdep.cpu.brand_string")), std::nullopt);
    QCOMPARE(facts.integer(QStringLiteral("hw.physicalcpu")), std::nullopt);
}

void tst_PlatformSystemFacts::unknownNamesGiveNothing()
{
    write(QStringLiteral("sys/class/dmi/id/product_name"), "MacBookPro18,3\n");
    write(QStringLiteral("proc/cpuinfo"), twoPackageCpuinfo("Intel(R) Core(TM) i9"));
    const PlatformSystemFacts facts(m_root->path());
    QCOMPARE(facts.string(QStringLiteral("hw.machine")), std::nullopt);
    QCOMPARE(facts.string(QStringLiteral("hw.physicalcpu")), std::nullopt);
    QCOMPARE(facts.integer(QStringLiteral("hw.model")), std::nullopt);
    QCOMPARE(facts.integer(QStringLiteral("hw.memsize")), std::nullopt);
}

void tst_PlatformSystemFacts::kernelRelease_data()
{
    QTest::addColumn<QString>("release");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("patch");

    QTest::newRow("debian") << QStringLiteral("6.1.0-18-amd64") << 6 << 1 << 0;
    QTest::newRow("plain") << QStringLiteral("6.18.44") << 6 << 18 << 44;
    QTest::newRow("vendor suffix") << QStringLiteral("6.18.44-fc-v1300") << 6 << 18 << 44;
    QTest::newRow("plus after patch") << QStringLiteral("6.6.20+rpt-rpi-v8") << 6 << 6 << 20;
    QTest::newRow("wsl four parts") << QStringLiteral("5.15.90.1-microsoft-standard-WSL2") << 5 << 15 << 90;
    QTest::newRow("release candidate") << QStringLiteral("6.9.0-rc3") << 6 << 9 << 0;
    QTest::newRow("two parts") << QStringLiteral("6.8-arch1") << 6 << 8 << 0;
    QTest::newRow("plus after minor") << QStringLiteral("4.19+") << 4 << 19 << 0;
    QTest::newRow("empty") << QString() << 0 << 0 << 0;
    QTest::newRow("no numbers") << QStringLiteral("unknown") << 0 << 0 << 0;
}

void tst_PlatformSystemFacts::kernelRelease()
{
    QFETCH(QString, release);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, patch);
    const OsVersion version = PlatformSystemFacts::parseKernelRelease(release);
    QCOMPARE(version.name, QStringLiteral("Linux"));
    QCOMPARE(version.major, major);
    QCOMPARE(version.minor, minor);
    QCOMPARE(version.patch, patch);
}

void tst_PlatformSystemFacts::runningMachine()
{
    // Memory, processors and the kernel come from the kernel, not the fake root.
    const PlatformSystemFacts facts(m_root->path());
    QCOMPARE(facts.processorCount(), qint64(QThread::idealThreadCount()));
    QVERIFY(facts.processorCount() >= 1);
    QVERIFY(facts.physicalMemory() >= (quint64(64) << 20));

    const OsVersion os = facts.osVersion();
    QCOMPARE(os.name, QStringLiteral("Linux"));
    QVERIFY(os.major >= 3);
    const QString numbers = QStringLiteral("%1.%2.").arg(os.major).arg(os.minor);
    QVERIFY2(QSysInfo::kernelVersion().startsWith(numbers), qPrintable(QSysInfo::kernelVersion()));

    // The real /proc/cpuinfo parses on this machine (core ids may be absent in VMs).
    const std::optional<quint64> cores = PlatformSystemFacts().integer(QStringLiteral("hw.physicalcpu"));
    QVERIFY(!cores || *cores >= 1);
}

BRISKO_TEST(tst_PlatformSystemFacts)
#include "tst_PlatformSystemFacts.moc"
