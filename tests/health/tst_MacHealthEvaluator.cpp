#include "BriskoTest.h"
#include "health/MacHealthEvaluator.h"

#include <QtTest>

#include <limits>

namespace {

// A volume of exactly 10^12 bytes, so that shares are easy to write down.
constexpr qint64 terabyte = 1'000'000'000'000;
constexpr qint64 gibibyte = qint64(1) << 30;

const QString fillCritical = QStringLiteral("Системный диск заполнен более чем на 92% — срочно освободите место.");
const QString noAccess = QStringLiteral("Включите полный доступ к диску для точного сканирования.");
const QString looksClean = QStringLiteral("Система выглядит чистой — периодически повторяйте быстрый скан.");
const QString allFine = QStringLiteral("Диск в норме, критичного мусора не найдено.");

QString fillHigh(int percent)
{
    return QStringLiteral("Диск заполнен на %1% — перенесите крупные файлы в архив.").arg(percent);
}

QString junkFound(const QString& size)
{
    return QStringLiteral("Найдено ") + size + QStringLiteral(" потенциального мусора.");
}

QString canFree(const QString& size)
{
    return QStringLiteral("Можно освободить ") + size + QStringLiteral(".");
}

QString safeCaches(const QString& size)
{
    return QStringLiteral("Безопасные кэши: ") + size + QStringLiteral(" — раздел «Безопасная очистка».");
}

DiskInfo volume(qint64 total, qint64 used)
{
    DiskInfo disk;
    disk.id = QUuid::createUuid();
    disk.name = QStringLiteral("Macintosh HD");
    disk.path = QStringLiteral("/");
    disk.total = total;
    disk.used = used;
    disk.free = total - used;
    return disk;
}

ScanItemList items(const QList<qint64>& sizes)
{
    ScanItemList list;
    for (qint64 size : sizes) {
        list.append(ScanItem::make(FilePath::fromString(QStringLiteral("/home/u/Downloads/файл %1").arg(list.size())),
                                   size, ScanCategory::downloadsInbox, false, true, std::nullopt));
    }
    return list;
}

MacHardwareInfo machine()
{
    MacHardwareInfo info;
    info.marketingName = QStringLiteral("MacBook Air (Apple M1)");
    info.modelIdentifier = QStringLiteral("MacBookAir10,1");
    info.chipName = QStringLiteral("Apple M1");
    info.memoryGB = 16;
    info.processorCount = 8;
    info.osVersion = QStringLiteral("macOS 14.2.1");
    info.isNotebook = true;
    return info;
}

} // namespace

Q_DECLARE_METATYPE(std::optional<DiskInfo>)
Q_DECLARE_METATYPE(std::optional<double>)
Q_DECLARE_METATYPE(std::optional<qint64>)

// The health score as a pure function: every threshold from both sides,
// every penalty and advice line, their order, the rounding and the cap.
class tst_MacHealthEvaluator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scoreAndAdvice_data();
    void scoreAndAdvice();
    void figuresOfTheSnapshot_data();
    void figuresOfTheSnapshot();
    void hugeFindingsDoNotWrapAround();
    void eachPathCountsOnce();
    void quickScanCategories();
};

void tst_MacHealthEvaluator::scoreAndAdvice_data()
{
    QTest::addColumn<std::optional<DiskInfo>>("disk");
    QTest::addColumn<QList<qint64>>("sizes");
    QTest::addColumn<qint64>("safeBytes");
    QTest::addColumn<bool>("fullDiskAccess");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QStringList>("tips");

    using Disk = std::optional<DiskInfo>;
    const Disk none;
    const QList<qint64> nothing;
    const QList<qint64> something = {4096};

    // Without a volume there is no fill and no junk share.
    QTest::newRow("no volume, nothing found") << none << nothing << qint64(0) << true << 100 << QStringList{looksClean};
    QTest::newRow("no volume, no access") << none << nothing << qint64(0) << false << 92
                                          << QStringList{noAccess, looksClean};
    QTest::newRow("no volume, big findings") << none << QList<qint64>{200'000'000'000} << qint64(0) << true << 100
                                             << QStringList{allFine};
    QTest::newRow("no volume, big safe caches") << none << nothing << 2 * gibibyte << true << 100
                                                << QStringList{safeCaches(QStringLiteral("2,15\u00a0ГБ"))};

    // A volume without capacity scores 103 and says nothing about itself.
    QTest::newRow("zero capacity") << Disk(volume(0, 0)) << something << qint64(0) << true << 100
                                   << QStringList{allFine};
    QTest::newRow("zero capacity, no access") << Disk(volume(0, 0)) << nothing << qint64(0) << false << 95
                                              << QStringList{noAccess, looksClean};
    QTest::newRow("negative capacity, huge findings")
        << Disk(volume(-5, 0)) << QList<qint64>{900'000'000'000} << qint64(0) << true << 100 << QStringList{allFine};

    // The examples the product was specified with.
    QTest::newRow("93% used, 15% junk, no access")
        << Disk(volume(terabyte, 930'000'000'000)) << QList<qint64>{100'000'000'000, 50'000'000'000} << qint64(0)
        << false << 35 << QStringList{fillCritical, junkFound(QStringLiteral("150\u00a0ГБ")), noAccess};
    QTest::newRow("50% used, nothing found") << Disk(volume(terabyte, terabyte / 2)) << nothing << qint64(0) << true
                                             << 100 << QStringList{looksClean};
    QTest::newRow("80% used, 3% junk") << Disk(volume(terabyte, 800'000'000'000)) << QList<qint64>{30'000'000'000}
                                       << qint64(0) << true << 88 << QStringList{canFree(QStringLiteral("30\u00a0ГБ"))};
    QTest::newRow("60% used, 7% junk, small safe caches")
        << Disk(volume(terabyte, 600'000'000'000)) << QList<qint64>{70'000'000'000} << 500 * (qint64(1) << 20) << true
        << 88 << QStringList{allFine};

    // Fill bands: every threshold is strict.
    QTest::newRow("fill just over 92%") << Disk(volume(terabyte, 920'000'000'001)) << something << qint64(0) << true
                                        << 65 << QStringList{fillCritical};
    QTest::newRow("fill exactly 92%") << Disk(volume(terabyte, 920'000'000'000)) << something << qint64(0) << true
                                      << 75 << QStringList{fillHigh(92)};
    QTest::newRow("fill 89.99% truncates") << Disk(volume(terabyte, 899'900'000'000)) << something << qint64(0) << true
                                           << 75 << QStringList{fillHigh(89)};
    QTest::newRow("fill just over 85%") << Disk(volume(terabyte, 850'000'000'001)) << something << qint64(0) << true
                                        << 75 << QStringList{fillHigh(85)};
    QTest::newRow("fill exactly 85%") << Disk(volume(terabyte, 850'000'000'000)) << something << qint64(0) << true
                                      << 88 << QStringList{allFine};
    QTest::newRow("fill just over 75%") << Disk(volume(terabyte, 750'000'000'001)) << something << qint64(0) << true
                                        << 88 << QStringList{allFine};
    QTest::newRow("fill exactly 75%") << Disk(volume(terabyte, 750'000'000'000)) << something << qint64(0) << true
                                      << 100 << QStringList{allFine};
    QTest::newRow("fill exactly 55%") << Disk(volume(terabyte, 550'000'000'000)) << something << qint64(0) << true
                                      << 100 << QStringList{allFine};
    QTest::newRow("fill exactly 55%, no access") << Disk(volume(terabyte, 550'000'000'000)) << something << qint64(0)
                                                 << false << 92 << QStringList{noAccess};
    QTest::newRow("fill just under 55%") << Disk(volume(terabyte, 549'999'999'999)) << something << qint64(0) << true
                                         << 100 << QStringList{allFine};
    // The hidden 103 shows once a penalty applies.
    QTest::newRow("fill just under 55%, no access") << Disk(volume(terabyte, 549'999'999'999)) << something
                                                    << qint64(0) << false << 95 << QStringList{noAccess};
    QTest::newRow("empty volume, no access") << Disk(volume(terabyte, 0)) << something << qint64(0) << false << 95
                                             << QStringList{noAccess};

    // Junk share bands, strict as well.
    const Disk half = volume(terabyte, terabyte / 2);
    QTest::newRow("junk just over 12%") << half << QList<qint64>{120'000'000'001} << qint64(0) << true << 81
                                        << QStringList{junkFound(QStringLiteral("120\u00a0ГБ"))};
    QTest::newRow("junk exactly 12%") << half << QList<qint64>{120'000'000'000} << qint64(0) << true << 91
                                      << QStringList{allFine};
    QTest::newRow("junk just over 5%") << half << QList<qint64>{50'000'000'001} << qint64(0) << true << 91
                                       << QStringList{allFine};
    QTest::newRow("junk exactly 5%") << half << QList<qint64>{50'000'000'000} << qint64(0) << true << 100
                                     << QStringList{canFree(QStringLiteral("50\u00a0ГБ"))};
    QTest::newRow("junk share counts the safe caches") << half << QList<qint64>{100'000'000'000} << qint64(20'000'000'001)
                                                       << true << 81
                                                       << QStringList{junkFound(QStringLiteral("120\u00a0ГБ")),
                                                                      safeCaches(QStringLiteral("20\u00a0ГБ"))};
    const Disk small = volume(100'000'000'000, 50'000'000'000);
    QTest::newRow("500 MB is not worth a line") << small << QList<qint64>{500'000'000} << qint64(0) << true << 100
                                                << QStringList{allFine};
    QTest::newRow("one byte more is") << small << QList<qint64>{499'999'999, 2} << qint64(0) << true << 100
                                      << QStringList{canFree(QStringLiteral("500\u00a0МБ"))};

    // Safe caches: more than 1 GiB.
    QTest::newRow("safe caches exactly 1 GiB") << none << nothing << gibibyte << true << 100 << QStringList{allFine};
    QTest::newRow("safe caches 1 GiB and a byte") << none << nothing << gibibyte + 1 << true << 100
                                                  << QStringList{safeCaches(QStringLiteral("1,07\u00a0ГБ"))};
    QTest::newRow("safe caches on a volume")
        << half << nothing << gibibyte + 1 << true << 100
        << QStringList{canFree(QStringLiteral("1,07\u00a0ГБ")), safeCaches(QStringLiteral("1,07\u00a0ГБ"))};

    // Clean system needs no items and no safe caches at all.
    QTest::newRow("safe caches alone are not clean") << none << nothing << qint64(1) << true << 100
                                                     << QStringList{allFine};
    QTest::newRow("an empty item is not clean") << none << QList<qint64>{0} << qint64(0) << true << 100
                                                << QStringList{allFine};
    QTest::newRow("clean after fill advice") << Disk(volume(terabyte, 950'000'000'000)) << nothing << qint64(0)
                                             << false << 57 << QStringList{fillCritical, noAccess, looksClean};

    // Penalties add up; the lowest possible score and the most advice at once.
    QTest::newRow("103 - 12 - 8") << half << QList<qint64>{70'000'000'000} << qint64(0) << false << 83
                                  << QStringList{noAccess};
    QTest::newRow("75 - 22 - 8") << Disk(volume(terabyte, 900'000'000'000)) << QList<qint64>{200'000'000'000}
                                 << qint64(0) << false << 45
                                 << QStringList{fillHigh(90), junkFound(QStringLiteral("200\u00a0ГБ")), noAccess};
    QTest::newRow("all four lines") << Disk(volume(terabyte, 930'000'000'000)) << QList<qint64>{100'000'000'000}
                                    << 60 * gibibyte << false << 35
                                    << QStringList{fillCritical, junkFound(QStringLiteral("164,42\u00a0ГБ")),
                                                   safeCaches(QStringLiteral("64,42\u00a0ГБ")), noAccess};
}

void tst_MacHealthEvaluator::scoreAndAdvice()
{
    QFETCH(std::optional<DiskInfo>, disk);
    QFETCH(QList<qint64>, sizes);
    QFETCH(qint64, safeBytes);
    QFETCH(bool, fullDiskAccess);
    QFETCH(int, percent);
    QFETCH(QStringList, tips);

    const MacHealthSnapshot snapshot =
        MacHealthEvaluator::evaluate(machine(), disk, items(sizes), safeBytes, fullDiskAccess, QDateTime());
    QCOMPARE(snapshot.tips, tips);
    QCOMPARE(snapshot.healthPercent, percent);
    QVERIFY(snapshot.tips.size() <= 4);
}

void tst_MacHealthEvaluator::figuresOfTheSnapshot_data()
{
    QTest::addColumn<std::optional<DiskInfo>>("disk");
    QTest::addColumn<QList<qint64>>("sizes");
    QTest::addColumn<qint64>("safeBytes");
    QTest::addColumn<qint64>("reclaimable");
    QTest::addColumn<std::optional<double>>("usedShare");
    QTest::addColumn<std::optional<qint64>>("freeBytes");

    QTest::newRow("no volume") << std::optional<DiskInfo>() << QList<qint64>{10, 20, 30} << qint64(5) << qint64(65)
                               << std::optional<double>() << std::optional<qint64>();
    QTest::newRow("zero capacity") << std::optional<DiskInfo>(volume(0, 0)) << QList<qint64>{} << qint64(0)
                                   << qint64(0) << std::optional<double>(0.0) << std::optional<qint64>(0);
    // The share is a fraction, not a percentage.
    QTest::newRow("a quarter used") << std::optional<DiskInfo>(volume(terabyte, terabyte / 4))
                                    << QList<qint64>{1'000'000, 3'000'000} << 7 * gibibyte
                                    << qint64(4'000'000 + 7 * gibibyte) << std::optional<double>(0.25)
                                    << std::optional<qint64>(750'000'000'000);
}

void tst_MacHealthEvaluator::figuresOfTheSnapshot()
{
    QFETCH(std::optional<DiskInfo>, disk);
    QFETCH(QList<qint64>, sizes);
    QFETCH(qint64, safeBytes);
    QFETCH(qint64, reclaimable);
    QFETCH(std::optional<double>, usedShare);
    QFETCH(std::optional<qint64>, freeBytes);

    const QDateTime now(QDate(2024, 3, 1), QTime(12, 30), QTimeZone::utc());
    const MacHealthSnapshot snapshot =
        MacHealthEvaluator::evaluate(machine(), disk, items(sizes), safeBytes, true, now);
    QCOMPARE(snapshot.reclaimableBytes, reclaimable);
    QCOMPARE(snapshot.safeCleanupBytes, safeBytes);
    QCOMPARE(snapshot.itemCount, sizes.size());
    QCOMPARE(snapshot.diskUsedPercent, usedShare);
    QCOMPARE(snapshot.diskFreeBytes, freeBytes);
    QCOMPARE(snapshot.hardware, machine());
    QCOMPARE(snapshot.scannedAt, now);
}

void tst_MacHealthEvaluator::hugeFindingsDoNotWrapAround()
{
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    const MacHealthSnapshot snapshot = MacHealthEvaluator::evaluate(
        machine(), volume(terabyte, terabyte / 2), items({max, max}), max, true, QDateTime());
    QCOMPARE(snapshot.reclaimableBytes, max);
    QCOMPARE(snapshot.healthPercent, 81);
    QCOMPARE(snapshot.tips.size(), 2);
    QVERIFY(snapshot.tips.first().startsWith(QStringLiteral("Найдено ")));
}

void tst_MacHealthEvaluator::eachPathCountsOnce()
{
    // One cache found by two categories, a folder inside it, and another file.
    const auto row = [](const char* path, qint64 size, ScanCategory category) {
        return ScanItem::make(FilePath(QByteArray(path)), size, category, true, false, std::nullopt);
    };
    const ScanItemList found = {row("/home/u/.cache/thumbnails", 300, ScanCategory::systemJunk),
                                row("/home/u/.cache/thumbnails", 300, ScanCategory::appCaches),
                                row("/home/u/.cache/thumbnails/large", 100, ScanCategory::systemJunk),
                                row("/home/u/.cache/thumbnails-old", 7, ScanCategory::systemJunk)};
    const MacHealthSnapshot snapshot =
        MacHealthEvaluator::evaluate(machine(), std::nullopt, found, 0, true, QDateTime());
    QCOMPARE(snapshot.reclaimableBytes, 307);
    QCOMPARE(snapshot.itemCount, 4);
}

void tst_MacHealthEvaluator::quickScanCategories()
{
    QCOMPARE(MacHealthEvaluator::quickScanCategories(),
             (QList<ScanCategory>{ScanCategory::appCaches, ScanCategory::systemJunk, ScanCategory::downloadsInbox,
                                  ScanCategory::oldInstallers, ScanCategory::largeLooseFiles}));
}

BRISKO_TEST(tst_MacHealthEvaluator)
#include "tst_MacHealthEvaluator.moc"
