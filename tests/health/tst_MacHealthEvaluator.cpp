#include "BriskoTest.h"
#include "TestValues.h"
#include "FakeClock.h"
#include "fileops/MoveRecords.h"
#include "health/MacHealthEvaluator.h"
#include "health/StorageHistoryStore.h"
#include "platform/SettingsDefaultsStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTimeZone>

#include <limits>

namespace {

const QString fillCritical = QStringLiteral("Системный диск заполнен более чем на 92% — срочно освободите место.");
const QString noAccess = QStringLiteral("Включите полный доступ к диску для точного сканирования.");
const QString looksClean = QStringLiteral("Система выглядит чистой — периодически повторяйте быстрый скан.");
const QString allFine = QStringLiteral("Диск в норме, критичного мусора не найдено.");

QString fillHigh(int percent)
{
    return QStringLiteral("Диск заполнен на %1% — перенесите крупные файлы в архив.").arg(percent);
}
QString junkFound(const QString& size) { return QStringLiteral("Найдено %1 потенциального мусора.").arg(size); }
QString canFree(const QString& size) { return QStringLiteral("Можно освободить %1.").arg(size); }
QString safeCaches(const QString& size)
{
    return QStringLiteral("Безопасные кэши: %1 — раздел «Безопасная очистка».").arg(size);
}

DiskInfo volume(qint64 total, qint64 used)
{
    return DiskInfo{QUuid(), QString(), QStringLiteral("/"), total, used, total - used};
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
    return {QStringLiteral("MacBook Air (Apple M1)"), QStringLiteral("MacBookAir10,1"), QStringLiteral("Apple M1"), 16, 8,
            QStringLiteral("macOS 14.2.1"), true};
}

// The total of a row without a volume.
constexpr qint64 noVolume = std::numeric_limits<qint64>::min();

} // namespace

// The health score as a pure function: every threshold from both sides,
// every penalty and advice line, their order, the cap and sums that would
// wrap round, the snapshot as scripts read it, and stored figures read back.
class tst_MacHealthEvaluator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scoreAndAdvice_data()
    {
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("used");
        QTest::addColumn<QList<qint64>>("sizes");
        QTest::addColumn<qint64>("safeBytes");
        QTest::addColumn<bool>("fullDiskAccess");
        QTest::addColumn<int>("percent");
        QTest::addColumn<QStringList>("tips");
        const auto row = [](const char* name, qint64 total, qint64 used, const QList<qint64>& sizes, qint64 safe,
                            bool access, int percent, const QStringList& tips) {
            QTest::newRow(name) << total << used << sizes << safe << access << percent << tips;
        };
        const QList<qint64> nothing;
        const QList<qint64> some = {4096};
        const qint64 T = terabyte;
        const qint64 half = terabyte / 2;
        const auto gb = [](const char* figure) { return QString::fromUtf8(figure) + QStringLiteral("\u00a0ГБ"); };

        // Without a volume there is no fill and no junk share.
        row("no volume, nothing found", noVolume, 0, nothing, 0, true, 100, {looksClean});
        row("no volume, no access", noVolume, 0, nothing, 0, false, 92, {noAccess, looksClean});
        row("no volume, big findings", noVolume, 0, {200'000'000'000}, 0, true, 100, {allFine});
        // A volume without capacity scores 103 and says nothing about itself.
        row("zero capacity", 0, 0, some, 0, true, 100, {allFine});
        row("zero capacity, no access", 0, 0, nothing, 0, false, 95, {noAccess, looksClean});
        row("negative capacity, huge findings", -5, 0, {900'000'000'000}, 0, true, 100, {allFine});

        // Fill bands: every threshold is strict.
        row("fill just over 92%", T, 920'000'000'001, some, 0, true, 65, {fillCritical});
        row("fill exactly 92%", T, 920'000'000'000, some, 0, true, 75, {fillHigh(92)});
        row("fill 89.99% truncates", T, 899'900'000'000, some, 0, true, 75, {fillHigh(89)});
        row("fill just over 85%", T, 850'000'000'001, some, 0, true, 75, {fillHigh(85)});
        row("fill exactly 85%", T, 850'000'000'000, some, 0, true, 88, {allFine});
        row("fill just over 75%", T, 750'000'000'001, some, 0, true, 88, {allFine});
        row("fill exactly 75%", T, 750'000'000'000, some, 0, true, 100, {allFine});
        // The hidden 103 shows once a penalty applies.
        row("fill exactly 55%, no access", T, 550'000'000'000, some, 0, false, 92, {noAccess});
        row("fill just under 55%, no access", T, 549'999'999'999, some, 0, false, 95, {noAccess});

        // Junk share bands, strict as well; the share counts the safe caches.
        row("junk just over 12%", T, half, {120'000'000'001}, 0, true, 81, {junkFound(gb("120"))});
        row("junk exactly 12%", T, half, {120'000'000'000}, 0, true, 91, {allFine});
        row("junk just over 5%", T, half, {50'000'000'001}, 0, true, 91, {allFine});
        row("junk exactly 5%", T, half, {50'000'000'000}, 0, true, 100, {canFree(gb("50"))});
        row("junk share counts the safe caches", T, half, {100'000'000'000}, 20'000'000'001, true, 81,
            {junkFound(gb("120")), safeCaches(gb("20"))});
        row("500 MB is not worth a line", 100'000'000'000, 50'000'000'000, {500'000'000}, 0, true, 100, {allFine});
        row("one byte more is", 100'000'000'000, 50'000'000'000, {499'999'999, 2}, 0, true, 100,
            {canFree(QStringLiteral("500\u00a0МБ"))});

        // Safe caches: more than 1 GiB.
        row("safe caches exactly 1 GiB", noVolume, 0, nothing, GiB, true, 100, {allFine});
        row("safe caches 1 GiB and a byte", noVolume, 0, nothing, GiB + 1, true, 100, {safeCaches(gb("1,07"))});
        row("safe caches on a volume", T, half, nothing, GiB + 1, true, 100,
            {canFree(gb("1,07")), safeCaches(gb("1,07"))});

        // Clean needs no items and no safe caches at all.
        row("safe caches alone are not clean", noVolume, 0, nothing, 1, true, 100, {allFine});
        row("an empty item is not clean", noVolume, 0, {0}, 0, true, 100, {allFine});
        row("clean after fill advice", T, 950'000'000'000, nothing, 0, false, 57, {fillCritical, noAccess, looksClean});

        // Penalties add up; the lowest possible score and the most advice at once.
        row("103 - 12 - 8", T, half, {70'000'000'000}, 0, false, 83, {noAccess});
        row("75 - 22 - 8", T, 900'000'000'000, {200'000'000'000}, 0, false, 45,
            {fillHigh(90), junkFound(gb("200")), noAccess});
        row("all four lines", T, 930'000'000'000, {100'000'000'000}, 60 * GiB, false, 35,
            {fillCritical, junkFound(gb("164,42")), safeCaches(gb("64,42")), noAccess});
    }

    void scoreAndAdvice()
    {
        QFETCH(qint64, total);
        QFETCH(qint64, used);
        QFETCH(QList<qint64>, sizes);
        QFETCH(qint64, safeBytes);
        QFETCH(bool, fullDiskAccess);
        QFETCH(int, percent);
        QFETCH(QStringList, tips);

        const auto disk = total == noVolume ? std::nullopt : std::optional<DiskInfo>(volume(total, used));
        const MacHealthSnapshot snapshot =
            MacHealthEvaluator::evaluate(machine(), disk, items(sizes), safeBytes, fullDiskAccess, QDateTime());
        QCOMPARE(snapshot.tips, tips);
        QCOMPARE(snapshot.healthPercent, percent);
    }

    void figuresOfTheSnapshot()
    {
        const QDateTime now(QDate(2024, 3, 1), QTime(12, 30), QTimeZone::utc());
        // Without a volume: no share, no free bytes; the safe caches are reclaimable too.
        MacHealthSnapshot snapshot = MacHealthEvaluator::evaluate(machine(), std::nullopt, items({10, 20, 30}), 5, true, now);
        QCOMPARE(snapshot, (MacHealthSnapshot{100, machine(), 65, 5, 3, std::nullopt, std::nullopt, now, {allFine}}));
        // The share is a fraction, not a percentage.
        snapshot = MacHealthEvaluator::evaluate(machine(), volume(terabyte, terabyte / 4), {}, 0, true, now);
        QCOMPARE(snapshot.diskUsedPercent, std::optional<double>(0.25));
        QCOMPARE(snapshot.diskFreeBytes, std::optional<qint64>(750'000'000'000));

        // Sums that would wrap round stop at the largest figure.
        constexpr qint64 max = std::numeric_limits<qint64>::max();
        snapshot = MacHealthEvaluator::evaluate(machine(), volume(terabyte, terabyte / 2), items({max, max}), max, true, now);
        QCOMPARE(snapshot.reclaimableBytes, max);
        QCOMPARE(snapshot.healthPercent, 81);
        QCOMPARE(snapshot.tips.size(), 2);
        QVERIFY(snapshot.tips.first().startsWith(QStringLiteral("Найдено ")));

        // Each path counts once: one cache found by two categories, a folder inside it, and another file.
        const auto row = [](const char* path, qint64 size, ScanCategory category) {
            return ScanItem::make(FilePath(QByteArray(path)), size, category, true, false, std::nullopt);
        };
        const ScanItemList found = {row("/home/u/.cache/thumbnails", 300, ScanCategory::systemJunk),
                                    row("/home/u/.cache/thumbnails", 300, ScanCategory::appCaches),
                                    row("/home/u/.cache/thumbnails/large", 100, ScanCategory::systemJunk),
                                    row("/home/u/.cache/thumbnails-old", 7, ScanCategory::systemJunk)};
        snapshot = MacHealthEvaluator::evaluate(machine(), std::nullopt, found, 0, true, now);
        QCOMPARE(snapshot.reclaimableBytes, 307);
        QCOMPARE(snapshot.itemCount, 4);
    }

    void snapshotAsScriptsReadIt()
    {
        // "brisko health --json" prints this, under these names; local time on
        // the way in, UTC with "Z" on the way out.
        const MacHealthSnapshot snapshot{78, machine(), 312'442'450'944, 3'221'225'472, 6, 0.6, 400'000'000'000,
                                         QDateTime(QDate(2024, 3, 1), QTime(15, 30, 5), QTimeZone(3 * 3600)),
                                         {QStringLiteral("Найдено 312,44 ГБ."), QStringLiteral("Кэши: 3,22 ГБ.")}};
        const QByteArray expected = R"json({
            "healthPercent": 78,
            "hardware": {"marketingName": "MacBook Air (Apple M1)", "modelIdentifier": "MacBookAir10,1",
                         "chipName": "Apple M1", "memoryGB": 16, "processorCount": 8, "osVersion": "macOS 14.2.1",
                         "isNotebook": true},
            "reclaimableBytes": 312442450944, "safeCleanupBytes": 3221225472, "itemCount": 6,
            "diskUsedPercent": 0.6, "diskFreeBytes": 400000000000, "scannedAt": "2024-03-01T12:30:05Z",
            "tips": ["Найдено 312,44 ГБ.", "Кэши: 3,22 ГБ."]
        })json";
        QCOMPARE(snapshot.toJson(), QJsonDocument::fromJson(expected).object());

        // Figures nobody measured are null, not zero.
        const QJsonObject empty = MacHealthSnapshot().toJson();
        for (const char* name : {"diskUsedPercent", "diskFreeBytes", "scannedAt"})
            QVERIFY2(empty.value(QLatin1String(name)).isNull(), name);
        QCOMPARE(empty.value(QLatin1String("tips")).toArray(), QJsonArray());
    }

    // Numbers and places read back from the stores must be ones the program
    // could have written: anything else reads as no record at all.
    void implausibleStoredValuesReadAsNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("date");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("plausible") << QByteArray("1073741824") << QByteArray("786000000.5") << QByteArray("/u/a") << true;
        QTest::newRow("beyond exact doubles") << QByteArray("9.2e18") << QByteArray("1") << QByteArray("/a") << false;
        QTest::newRow("astronomic") << QByteArray("1e300") << QByteArray("1") << QByteArray("/a") << false;
        QTest::newRow("negative") << QByteArray("-5") << QByteArray("1") << QByteArray("/a") << false;
        QTest::newRow("date beyond the calendar") << QByteArray("5") << QByteArray("1e300") << QByteArray("/a") << false;
        QTest::newRow("relative place") << QByteArray("5") << QByteArray("1") << QByteArray("Архив/a") << false;
    }

    void implausibleStoredValuesReadAsNothing()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, date);
        QFETCH(QByteArray, path);
        QFETCH(bool, accepted);
        QTemporaryDir dir;
        auto store = std::make_shared<SettingsDefaultsStore>(dir.filePath(QStringLiteral("d.ini")), QSettings::IniFormat);
        const QByteArray id = "\"0F8FAD5B-D9CB-469F-A165-70867728950E\"";
        QVERIFY(store->setData(QStringLiteral("h"), "[{\"id\":" + id + ",\"date\":" + date + ",\"bytesFreed\":" + bytes
                                                       + ",\"action\":\"Перенос\",\"itemCount\":" + bytes + "}]"));
        const StorageStats stats = StorageHistoryStore(QStringLiteral("h"), 100, store, std::make_shared<FakeClock>()).stats();
        // A history event has no place; only its numbers decide.
        QCOMPARE(stats.eventCount, accepted || path.startsWith("Архив") ? 1 : 0);
        QVERIFY(stats.totalFreed >= 0);
        const QByteArray batch = "{\"id\":" + id + ",\"createdAt\":" + date + ",\"records\":[{\"id\":" + id
            + ",\"originalPath\":\"" + path + "\",\"destinationPath\":\"/media/a\",\"size\":" + bytes
            + ",\"movedAt\":" + date + "}]}";
        QCOMPARE(MoveBatch::fromJson(batch).has_value(), accepted);
    }
};

BRISKO_TEST(tst_MacHealthEvaluator)
#include "tst_MacHealthEvaluator.moc"
