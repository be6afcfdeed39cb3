#include "BriskoTest.h"
#include "health/MacHealthSnapshot.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

// The snapshot as scripts read it from "brisko health --json".
class tst_MacHealthSnapshot : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyFieldUnderItsName();
};

void tst_MacHealthSnapshot::everyFieldUnderItsName()
{
    MacHealthSnapshot snapshot;
    snapshot.healthPercent = 78;
    snapshot.hardware.marketingName = QStringLiteral("MacBook Air (Apple M1)");
    snapshot.hardware.modelIdentifier = QStringLiteral("MacBookAir10,1");
    snapshot.hardware.chipName = QStringLiteral("Apple M1");
    snapshot.hardware.memoryGB = 16;
    snapshot.hardware.processorCount = 8;
    snapshot.hardware.osVersion = QStringLiteral("macOS 14.2.1");
    snapshot.hardware.isNotebook = true;
    snapshot.reclaimableBytes = 312'442'450'944;
    snapshot.safeCleanupBytes = 3'221'225'472;
    snapshot.itemCount = 6;
    snapshot.diskUsedPercent = 0.6;
    snapshot.diskFreeBytes = 400'000'000'000;
    // Local time on the way in, UTC with "Z" on the way out.
    snapshot.scannedAt = QDateTime(QDate(2024, 3, 1), QTime(15, 30, 5), QTimeZone(3 * 3600));
    snapshot.tips = {QStringLiteral("Найдено 312,44 ГБ потенциального мусора."),
                     QStringLiteral("Безопасные кэши: 3,22 ГБ — раздел «Безопасная очистка».")};

    const QByteArray expected = R"json({
        "healthPercent": 78,
        "hardware": {"marketingName": "MacBook Air (Apple M1)", "modelIdentifier": "MacBookAir10,1",
                     "chipName": "Apple M1", "memoryGB": 16, "processorCount": 8, "osVersion": "macOS 14.2.1",
                     "isNotebook": true},
        "reclaimableBytes": 312442450944,
        "safeCleanupBytes": 3221225472,
        "itemCount": 6,
        "diskUsedPercent": 0.6,
        "diskFreeBytes": 400000000000,
        "scannedAt": "2024-03-01T12:30:05Z",
        "tips": ["Найдено 312,44 ГБ потенциального мусора.",
                 "Безопасные кэши: 3,22 ГБ — раздел «Безопасная очистка»."]
    })json";
    QCOMPARE(snapshot.toJson(), QJsonDocument::fromJson(expected).object());

    // Figures nobody measured are null, not zero.
    const QJsonObject empty = MacHealthSnapshot().toJson();
    for (const char* name : {"diskUsedPercent", "diskFreeBytes", "scannedAt"})
        QVERIFY2(empty.value(QLatin1String(name)).isNull(), name);
    QCOMPARE(empty.value(QLatin1String("tips")).toArray(), QJsonArray());
}

BRISKO_TEST(tst_MacHealthSnapshot)
#include "tst_MacHealthSnapshot.moc"
