#include "BriskoTest.h"
#include "fileops/MoveRecords.h"
#include "health/StorageHistoryStore.h"
#include "platform/SettingsDefaultsStore.h"

#include "FakeClock.h"

#include <QTemporaryDir>

// Numbers and places read back from the stores must be ones the program could
// have written: anything else reads as no record at all.
class tst_StoredNumbers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void implausibleValuesReadAsNothing_data()
    {
        QTest::addColumn<QByteArray>("bytesFreed");
        QTest::addColumn<QByteArray>("date");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("plausible") << QByteArray("1073741824") << QByteArray("786000000.5") << QByteArray("/home/u/a")
                                   << true;
        QTest::newRow("beyond exact doubles") << QByteArray("9.2e18") << QByteArray("1") << QByteArray("/a") << false;
        QTest::newRow("astronomic") << QByteArray("1e300") << QByteArray("1") << QByteArray("/a") << false;
        QTest::newRow("negative") << QByteArray("-5") << QByteArray("1") << QByteArray("/a") << false;
        QTest::newRow("date beyond the calendar") << QByteArray("5") << QByteArray("1e300") << QByteArray("/a") << false;
        QTest::newRow("relative place") << QByteArray("5") << QByteArray("1") << QByteArray("Архив/a") << false;
    }

    void implausibleValuesReadAsNothing()
    {
        QFETCH(QByteArray, bytesFreed);
        QFETCH(QByteArray, date);
        QFETCH(QByteArray, path);
        QFETCH(bool, accepted);
        QTemporaryDir dir;
        auto store = std::make_shared<SettingsDefaultsStore>(dir.filePath(QStringLiteral("d.ini")), QSettings::IniFormat);
        const QByteArray id = "\"0F8FAD5B-D9CB-469F-A165-70867728950E\"";
        QVERIFY(store->setData(QStringLiteral("h"), "[{\"id\":" + id + ",\"date\":" + date + ",\"bytesFreed\":" + bytesFreed
                                                       + ",\"action\":\"Перенос на архив\",\"itemCount\":" + bytesFreed
                                                       + "}]"));
        const StorageHistoryStore history(QStringLiteral("h"), 100, store, std::make_shared<FakeClock>());
        const StorageStats stats = history.stats();
        // A history event has no place; only its numbers decide.
        QCOMPARE(stats.eventCount, accepted || path.startsWith("Архив") ? 1 : 0);
        QVERIFY(stats.totalFreed >= 0);

        const QByteArray batch = "{\"id\":" + id + ",\"createdAt\":" + date + ",\"records\":[{\"id\":" + id
            + ",\"originalPath\":\"" + path + "\",\"destinationPath\":\"/media/a\",\"size\":" + bytesFreed
            + ",\"movedAt\":" + date + "}]}";
        QCOMPARE(MoveBatch::fromJson(batch).has_value(), accepted);
    }
};

BRISKO_TEST(tst_StoredNumbers)
#include "tst_StoredNumbers.moc"
