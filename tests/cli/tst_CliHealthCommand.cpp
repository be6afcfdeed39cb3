#include "BriskoTest.h"
#include "OperationSandbox.h"
#include "TreeInventory.h"

#include "base/ByteCountFormatter.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

#include <sys/stat.h>

namespace {

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

qint64 allocatedSize(const QString& path)
{
    struct stat info;
    if (::lstat(native(path).constData(), &info) != 0) {
        return -1;
    }
    return qint64(info.st_blocks) * 512;
}

constexpr qint64 mebibyte = qint64(1) << 20;

} // namespace

// brisko health, run as a separate program on a sandbox home. The volumes
// and the machine are this computer's own, so the score itself cannot be
// known in advance; what the scan found, and how the output is put
// together, can.
class tst_CliHealthCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void jsonSnapshotOfASandboxHome();
    void textReport();
    void badArgumentsAreUsageErrors_data();
    void badArgumentsAreUsageErrors();
};

void tst_CliHealthCommand::jsonSnapshotOfASandboxHome()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    // Two loose files, one of them an installer from 40 days ago, and a
    // 2 MiB pip cache: safe to clean, too small for service junk.
    const QString notes = sandbox.makeHomeFile(QStringLiteral("Downloads/заметки.txt"), 9000);
    const QString installer = sandbox.makeHomeFile(QStringLiteral("Downloads/старый.dmg"), 30000);
    QVERIFY(TempHome::setModified(installer, QDateTime::currentDateTime().addDays(-40)));
    const QString cache = sandbox.makeHomeFile(QStringLiteral(".cache/pip/wheels/ab.whl"), 2 * mebibyte);
    const QByteArray home = native(sandbox.home().path());
    const TreeInventory before = TreeInventory::take(home);

    const QJsonObject json = sandbox.runJson({QStringLiteral("health"), QStringLiteral("--json")});
    QVERIFY(!json.isEmpty());
    // Rows: the two files in the inbox, the installer once more; its bytes
    // are freed once, however many categories list it.
    const qint64 found = allocatedSize(notes) + allocatedSize(installer);
    const qint64 safe = allocatedSize(cache);
    QCOMPARE(json.value(QLatin1String("itemCount")).toInteger(-1), 3);
    QCOMPARE(json.value(QLatin1String("safeCleanupBytes")).toInteger(-1), safe);
    QCOMPARE(json.value(QLatin1String("reclaimableBytes")).toInteger(-1), found + safe);

    const int percent = json.value(QLatin1String("healthPercent")).toInt(-1);
    QVERIFY2(percent >= 0 && percent <= 100, qPrintable(QString::number(percent)));
    QCOMPARE(json.value(QLatin1String("status")).toString(),
             QStringLiteral("Оценка здоровья: %1% · можно освободить %2")
                 .arg(percent)
                 .arg(ByteCountFormatter::format(found + safe)));
    const QJsonArray tips = json.value(QLatin1String("tips")).toArray();
    QVERIFY(!tips.isEmpty() && tips.size() <= 4);
    // No Safari bookmarks and no Mail in the sandbox: access is not needed.
    QVERIFY(!tips.contains(QStringLiteral("Включите полный доступ к диску для точного сканирования.")));

    // The machine as "brisko hardware" describes it, the volume as "brisko disks" lists it.
    const CliRun hardware = sandbox.run({QStringLiteral("hardware"), QStringLiteral("--json")});
    QVERIFY2(hardware.finished && hardware.exitCode == 0 && hardware.json(), hardware.describe());
    QCOMPARE(json.value(QLatin1String("hardware")).toObject(), hardware.json()->object());
    const CliRun disks = sandbox.run({QStringLiteral("disks"), QStringLiteral("--json")});
    QVERIFY2(disks.finished && disks.exitCode == 0 && disks.json(), disks.describe());
    if (disks.json()->array().isEmpty()) {
        QVERIFY(json.value(QLatin1String("diskUsedPercent")).isNull());
        QVERIFY(json.value(QLatin1String("diskFreeBytes")).isNull());
    } else {
        const double used = json.value(QLatin1String("diskUsedPercent")).toDouble(-1);
        QVERIFY2(used >= 0 && used <= 1, qPrintable(QString::number(used)));
        QVERIFY(json.value(QLatin1String("diskFreeBytes")).toInteger(-1) >= 0);
    }
    const QDateTime scannedAt =
        QDateTime::fromString(json.value(QLatin1String("scannedAt")).toString(), Qt::ISODate);
    QVERIFY(json.value(QLatin1String("scannedAt")).toString().endsWith(QLatin1Char('Z')));
    QVERIFY(qAbs(scannedAt.secsTo(QDateTime::currentDateTimeUtc())) < 120);

    // The scan only read; it records no history either.
    QCOMPARE(TreeInventory::take(home).differencesFrom(before), QStringList());
    const QJsonObject history = sandbox.runJson({QStringLiteral("history"), QStringLiteral("--json")});
    QCOMPARE(history.value(QLatin1String("stats")).toObject().value(QLatin1String("eventCount")).toInteger(-1), 0);
}

void tst_CliHealthCommand::textReport()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    CliRun run = sandbox.run({QStringLiteral("health")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    const QStringList lines = run.outText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(lines.size() >= 8, run.describe());
    QVERIFY2(lines.first().startsWith(QStringLiteral("Здоровье:")), run.describe());
    // An empty home: nothing found, so the clean-system advice, and the status line last.
    QVERIFY2(run.outText().contains(
                 QStringLiteral("  • Система выглядит чистой — периодически повторяйте быстрый скан.\n")),
             run.describe());
    QVERIFY2(run.outText().contains(QStringLiteral("Найдено элементов:")), run.describe());
    QVERIFY2(lines.last().startsWith(QStringLiteral("Оценка здоровья: ")), run.describe());
    QVERIFY2(lines.last().endsWith(QStringLiteral("% · можно освободить 0\u00a0байт")), run.describe());
    // Progress goes to standard error, one line per step in a pipe.
    QVERIFY2(run.errText().contains(QStringLiteral("Проверка дисков…")), run.describe());
    QVERIFY2(run.errText().contains(QStringLiteral("Служебный мусор")), run.describe());
}

void tst_CliHealthCommand::badArgumentsAreUsageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("extra argument") << QStringList{QStringLiteral("health"), QStringLiteral("сейчас")};
    QTest::newRow("unknown option") << QStringList{QStringLiteral("health"), QStringLiteral("--full")};
}

void tst_CliHealthCommand::badArgumentsAreUsageErrors()
{
    QFETCH(QStringList, arguments);
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    CliRun run = sandbox.run(arguments);
    QVERIFY2(run.finished && run.exitCode == 2, run.describe());
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.errText().contains(QStringLiteral("brisko health [--json]")), run.describe());
}

BRISKO_TEST(tst_CliHealthCommand)
#include "tst_CliHealthCommand.moc"
