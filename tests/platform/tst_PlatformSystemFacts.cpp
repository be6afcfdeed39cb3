#include "BriskoTest.h"
#include "TestValues.h"
#include "platform/PlatformSystemFacts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

// Two packages, two cores each, two threads per core, as x86 kernels write
// them: 8 logical, 4 physical. Core ids repeat across packages, as they do
// on real machines.
QByteArray twoPackageCpuinfo(const QByteArray& brand)
{
    QByteArray text;
    for (int processor = 0; processor < 8; ++processor) {
        text += "processor\t: " + QByteArray::number(processor) + "\nvendor_id\t: GenuineIntel\nmodel name\t: " + brand
            + "\nphysical id\t: " + QByteArray::number(processor / 2 % 2) + "\nsiblings\t: 4\ncore id\t\t: "
            + QByteArray::number(processor % 2) + "\ncpu cores\t: 2\nflags\t\t: fpu vme de pse tsc msr ht\n\n";
    }
    return text;
}

// An ARM board: no model name, no core ids, the board in "Model".
const QByteArray armCpuinfo = "processor\t: 0\nBogoMIPS\t: 108.00\nFeatures\t: fp asimd evtstrm crc32 cpuid\n"
                              "CPU implementer\t: 0x41\nCPU part\t: 0xd08\n\n"
                              "processor\t: 1\nBogoMIPS\t: 108.00\nCPU part\t: 0xd08\n\n"
                              "Hardware\t: BCM2835\nRevision\t: c03114\nModel\t\t: Raspberry Pi 4 Model B Rev 1.4\n";

} // namespace

class tst_PlatformSystemFacts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each row: the DMI product name and /proc/cpuinfo (null: no such file; the
    // cpuinfo "<folder>": a folder in its place) and the model, processor brand
    // ("-": none) and physical core count (-1: none) read from them.
    void factsFromFiles_data()
    {
        QTest::addColumn<QByteArray>("productName");
        QTest::addColumn<QByteArray>("cpuinfo");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("brand");
        QTest::addColumn<int>("cores");
        const QByteArray xeon = "Intel(R) Xeon(R) CPU E5-2680 v2 @ 2.80GHz";
        QTest::newRow("two packages with hyper-threading")
            << QByteArray("MacBookAir10,1\n") << twoPackageCpuinfo(xeon) << "MacBookAir10,1" << QString::fromLatin1(xeon)
            << 4;
        QTest::newRow("spaces around the model") << QByteArray("  Macmini9,1 \t\n\n") << QByteArray() << "Macmini9,1"
                                                 << "-" << -1;
        QTest::newRow("blank model") << QByteArray(" \n") << QByteArray() << "-" << "-" << -1;
        QTest::newRow("Cyrillic model") << QByteArray("Ноутбук Про 14\n") << QByteArray() << "Ноутбук Про 14" << "-" << -1;
        // Without core ids the physical count is unknown, so callers fall back
        // to the logical count rather than reading a wrong number.
        QTest::newRow("ARM board") << QByteArray() << armCpuinfo << "-" << "Raspberry Pi 4 Model B Rev 1.4" << -1;
        QTest::newRow("only Hardware") << QByteArray() << QByteArray("processor\t: 0\nHardware\t: Allwinner sun50i\n")
                                       << "-" << "Allwinner sun50i" << -1;
        QTest::newRow("nothing names the processor")
            << QByteArray() << QByteArray("processor\t: 0\nBogoMIPS\t: 50.00\nmodel name\t:\n") << "-" << "-" << -1;
        QTest::newRow("no trailing newline")
            << QByteArray() << QByteArray("processor\t: 0\nmodel name\t:   Apple M1  \nphysical id\t: 0\ncore id\t\t: 0")
            << "-" << "Apple M1" << 1;
        QTest::newRow("folder in place of cpuinfo") << QByteArray() << QByteArray("<folder>") << "-" << "-" << -1;
    }
    void factsFromFiles()
    {
        QFETCH(QByteArray, productName);
        QFETCH(QByteArray, cpuinfo);
        QFETCH(QString, model);
        QFETCH(QString, brand);
        QFETCH(int, cores);
        QTemporaryDir root;
        const auto write = [&](const QString& relative, const QByteArray& bytes) {
            const QString path = root.filePath(relative);
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QVERIFY(writeAll(path, bytes));
        };
        if (!productName.isNull())
            write(QStringLiteral("sys/class/dmi/id/product_name"), productName);
        if (cpuinfo == "<folder>") {
            QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("proc/cpuinfo"))));
        } else if (!cpuinfo.isNull()) {
            write(QStringLiteral("proc/cpuinfo"), cpuinfo);
        }
        const PlatformSystemFacts facts(root.path());
        const auto orNone = [](const std::optional<QString>& text) { return text.value_or(QStringLiteral("-")); };
        QCOMPARE(orNone(facts.string(QStringLiteral("hw.model"))), model);
        QCOMPARE(orNone(facts.string(QStringLiteral("machdep.cpu.brand_string"))), brand);
        const std::optional<quint64> physical = facts.integer(QStringLiteral("hw.physicalcpu"));
        QCOMPARE(physical ? int(*physical) : -1, cores);
        // Names no file answers, or asked for as the wrong kind.
        QCOMPARE(facts.string(QStringLiteral("hw.machine")), std::nullopt);
        QCOMPARE(facts.string(QStringLiteral("hw.physicalcpu")), std::nullopt);
        QCOMPARE(facts.integer(QStringLiteral("hw.memsize")), std::nullopt);
    }

    // Debian's, a vendor suffix, WSL's four parts, two parts, a plus after the
    // minor number, and no numbers at all.
    void kernelRelease()
    {
        QStringList versions;
        for (const char* release :
             {"6.1.0-18-amd64", "6.18.44-fc-v1300", "5.15.90.1-microsoft-standard-WSL2", "6.8-arch1", "4.19+", "unknown"}) {
            const OsVersion os = PlatformSystemFacts::parseKernelRelease(QString::fromLatin1(release));
            versions.append(QStringLiteral("%1 %2.%3.%4").arg(os.name).arg(os.major).arg(os.minor).arg(os.patch));
        }
        QCOMPARE(versions.join(QStringLiteral(", ")),
                 QStringLiteral("Linux 6.1.0, Linux 6.18.44, Linux 5.15.90, Linux 6.8.0, Linux 4.19.0, Linux 0.0.0"));
    }

    void runningMachine()
    {
        // Memory, processors and the kernel come from the kernel, not the fake root.
        const PlatformSystemFacts facts;
        QCOMPARE(facts.processorCount(), qint64(QThread::idealThreadCount()));
        QVERIFY(facts.physicalMemory() >= (quint64(64) << 20));
        const OsVersion os = facts.osVersion();
        QCOMPARE(os.name, QStringLiteral("Linux"));
        const QString numbers = QStringLiteral("%1.%2.").arg(os.major).arg(os.minor);
        QVERIFY2(QSysInfo::kernelVersion().startsWith(numbers), qPrintable(QSysInfo::kernelVersion()));
        // The real /proc/cpuinfo parses on this machine (core ids may be absent in VMs).
        const std::optional<quint64> cores = facts.integer(QStringLiteral("hw.physicalcpu"));
        QVERIFY(!cores || *cores >= 1);
    }
};

BRISKO_TEST(tst_PlatformSystemFacts)
#include "tst_PlatformSystemFacts.moc"
