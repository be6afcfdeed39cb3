#include "BriskoTest.h"
#include "OperationSandbox.h"
#include "ScratchDir.h"
#include "TreeInventory.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

#include <cerrno>
#include <cstring>

namespace {

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

QString describe(int errnoValue)
{
    return QString::fromLocal8Bit(std::strerror(errnoValue));
}

} // namespace

// brisko sort-downloads, run as a separate program on a sandbox home.
class tst_CliSortDownloadsCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sortsAndReportsAsJson();
    void textOutputAndASecondRun();
    void filesThatCannotMoveStayAndFailTheRun();
    void unreadableDownloadsFailsTheRun();
    void missingDownloadsSortsNothing();
    void badArgumentsAreUsageErrors_data();
    void badArgumentsAreUsageErrors();
};

void tst_CliSortDownloadsCommand::sortsAndReportsAsJson()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    sandbox.makeHomeFile(QStringLiteral("Downloads/Отчёт за май.PDF"), 3000);
    sandbox.makeHomeFile(QStringLiteral("Downloads/фильм.mkv"), 5000);
    sandbox.makeHomeFile(QStringLiteral("Downloads/архив.tar.gz"), 700);
    sandbox.makeHomeFile(QStringLiteral("Downloads/Проект/план.txt"), 100);
    sandbox.makeHomeFile(QStringLiteral("Downloads/.скрытый"), 10);
    const QByteArray odd = sandbox.home().makeFileNative("Downloads/\xcf\xf0\xe8\xe2\xe5\xf2.txt", 42).native();
    const QByteArray downloads = native(sandbox.home().filePath(QStringLiteral("Downloads")));
    const TreeInventory before = TreeInventory::take(downloads);

    const QJsonObject result = sandbox.runJson({QStringLiteral("sort-downloads"), QStringLiteral("--json")});
    QCOMPARE(result.value(QLatin1String("moved")).toInteger(-1), 4);
    QCOMPARE(result.value(QLatin1String("skipped")).toInteger(-1), 1);
    QCOMPARE(result.value(QLatin1String("failed")).toInteger(-1), 0);
    QCOMPARE(result.value(QLatin1String("errors")).toArray(), QJsonArray());
    QCOMPARE(result.value(QLatin1String("byBucket")).toObject(),
             (QJsonObject{{QStringLiteral("Archives"), 1}, {QStringLiteral("Documents"), 2}, {QStringLiteral("Video"), 1}}));
    QCOMPARE(result.value(QLatin1String("status")).toString(),
             QStringLiteral("Разложено 4 файла в Downloads/_Sorted/ (Archives: 1, Documents: 2, Video: 1). "
                            "Пропущено папок: 1, ошибок: 0"));

    // Each file whole in its bucket, the name not valid UTF-8 byte for byte;
    // the folder and the hidden file where they were.
    const TreeInventory after = TreeInventory::take(downloads);
    const QList<std::pair<QByteArray, QByteArray>> moves = {
        {"Отчёт за май.PDF", "_Sorted/Documents/Отчёт за май.PDF"},
        {"фильм.mkv", "_Sorted/Video/фильм.mkv"},
        {"архив.tar.gz", "_Sorted/Archives/архив.tar.gz"},
        {"\xcf\xf0\xe8\xe2\xe5\xf2.txt", "_Sorted/Documents/\xcf\xf0\xe8\xe2\xe5\xf2.txt"},
    };
    for (const auto& [from, to] : moves) {
        QVERIFY2(!after.entries().contains(from), qPrintable(TreeInventory::display(from)));
        QVERIFY2(after.entries().value(to).sameAs(before.entries().value(from)), qPrintable(TreeInventory::display(to)));
    }
    QVERIFY(!ScratchDir::exists(odd));
    for (const QByteArray& kept : {QByteArray("Проект/план.txt"), QByteArray(".скрытый")}) {
        QVERIFY(after.entries().value(kept).sameAs(before.entries().value(kept)));
    }

    // The history has the event, with nothing freed.
    const QJsonObject history = sandbox.runJson({QStringLiteral("history"), QStringLiteral("--json")});
    const QJsonObject last = history.value(QLatin1String("stats")).toObject().value(QLatin1String("lastEvent")).toObject();
    QCOMPARE(last.value(QLatin1String("action")).toString(), QStringLiteral("Сортировка Downloads"));
    QCOMPARE(last.value(QLatin1String("itemCount")).toInteger(-1), 4);
    QCOMPARE(last.value(QLatin1String("bytesFreed")).toInteger(-1), 0);
}

void tst_CliSortDownloadsCommand::textOutputAndASecondRun()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    sandbox.makeHomeFile(QStringLiteral("Downloads/x.txt"), 100);
    CliRun first = sandbox.run({QStringLiteral("sort-downloads")});
    QVERIFY2(first.finished && first.exitCode == 0, first.describe());
    QCOMPARE(first.outText(), QStringLiteral("Разложено 1 файл в Downloads/_Sorted/ (Documents: 1). Пропущено папок: "
                                             "0, ошибок: 0\n"));
    QVERIFY2(first.errText().contains(QStringLiteral("Сортировка Downloads…")), first.describe());

    // A new x.txt keeps the first one and takes the next free name.
    const QString second = sandbox.makeHomeFile(QStringLiteral("Downloads/x.txt"), 200);
    const QByteArray secondContent = OperationSandbox::contentFor(QStringLiteral("Downloads/x.txt"), 200);
    CliRun again = sandbox.run({QStringLiteral("sort-downloads")});
    QVERIFY2(again.finished && again.exitCode == 0, again.describe());
    QCOMPARE(QFileInfo(sandbox.home().filePath(QStringLiteral("Downloads/_Sorted/Documents/x.txt"))).size(), 100);
    QCOMPARE(ScratchDir::readFile(native(sandbox.home().filePath(QStringLiteral("Downloads/_Sorted/Documents/x_2.txt")))),
             secondContent);
    QVERIFY(!QFile::exists(second));
}

void tst_CliSortDownloadsCommand::filesThatCannotMoveStayAndFailTheRun()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    // A file where the sorted folder should be: every move must fail, in place.
    sandbox.makeHomeFile(QStringLiteral("Downloads/_Sorted"), 10);
    sandbox.makeHomeFile(QStringLiteral("Downloads/смета.xlsx"), 300);
    const QByteArray downloads = native(sandbox.home().filePath(QStringLiteral("Downloads")));
    const TreeInventory before = TreeInventory::take(downloads);

    const QJsonObject json = sandbox.runJson({QStringLiteral("sort-downloads"), QStringLiteral("--json")}, 1);
    QCOMPARE(json.value(QLatin1String("moved")).toInteger(-1), 0);
    QCOMPARE(json.value(QLatin1String("failed")).toInteger(-1), 1);
    QCOMPARE(json.value(QLatin1String("errors")).toArray(),
             QJsonArray{QStringLiteral("смета.xlsx: ") + describe(ENOTDIR)});
    QCOMPARE(json.value(QLatin1String("byBucket")).toObject(), QJsonObject());

    CliRun text = sandbox.run({QStringLiteral("sort-downloads")});
    QVERIFY2(text.finished && text.exitCode == 1, text.describe());
    QVERIFY2(text.errText().contains(QStringLiteral("brisko: смета.xlsx: ") + describe(ENOTDIR) + QLatin1Char('\n')),
             text.describe());
    QCOMPARE(text.outText(),
             QStringLiteral("Разложено 0 файлов в Downloads/_Sorted/ (). Пропущено папок: 0, ошибок: 1\n"));
    QCOMPARE(TreeInventory::take(downloads).differencesFrom(before), QStringList());
}

void tst_CliSortDownloadsCommand::unreadableDownloadsFailsTheRun()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    // A file named Downloads cannot be listed, not even by root.
    sandbox.makeHomeFile(QStringLiteral("Downloads"), 64);
    const QJsonObject json = sandbox.runJson({QStringLiteral("sort-downloads"), QStringLiteral("--json")}, 1);
    QCOMPARE(json.value(QLatin1String("errors")).toArray(), QJsonArray{QStringLiteral("Не удалось прочитать Downloads")});
    QCOMPARE(json.value(QLatin1String("moved")).toInteger(-1), 0);
    QCOMPARE(json.value(QLatin1String("failed")).toInteger(-1), 0);

    CliRun text = sandbox.run({QStringLiteral("sort-downloads")});
    QVERIFY2(text.finished && text.exitCode == 1, text.describe());
    QVERIFY2(text.errText().contains(QStringLiteral("brisko: Не удалось прочитать Downloads\n")), text.describe());
    QCOMPARE(QFileInfo(sandbox.home().filePath(QStringLiteral("Downloads"))).size(), 64);
    // Nothing moved, nothing recorded.
    const QJsonObject history = sandbox.runJson({QStringLiteral("history"), QStringLiteral("--json")});
    QCOMPARE(history.value(QLatin1String("stats")).toObject().value(QLatin1String("eventCount")).toInteger(-1), 0);
}

void tst_CliSortDownloadsCommand::missingDownloadsSortsNothing()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QJsonObject json = sandbox.runJson({QStringLiteral("sort-downloads"), QStringLiteral("--json")});
    QCOMPARE(json.value(QLatin1String("moved")).toInteger(-1), 0);
    QCOMPARE(json.value(QLatin1String("errors")).toArray(), QJsonArray());
    QCOMPARE(json.value(QLatin1String("status")).toString(),
             QStringLiteral("Разложено 0 файлов в Downloads/_Sorted/ (). Пропущено папок: 0, ошибок: 0"));
    QVERIFY(QFileInfo(sandbox.home().filePath(QStringLiteral("Downloads/_Sorted"))).isDir());
}

void tst_CliSortDownloadsCommand::badArgumentsAreUsageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("extra argument") << QStringList{QStringLiteral("sort-downloads"), QStringLiteral("Загрузки")};
    QTest::newRow("unknown option") << QStringList{QStringLiteral("sort-downloads"), QStringLiteral("--dry-run")};
    QTest::newRow("value for a flag") << QStringList{QStringLiteral("sort-downloads"), QStringLiteral("--json=yes")};
}

void tst_CliSortDownloadsCommand::badArgumentsAreUsageErrors()
{
    QFETCH(QStringList, arguments);
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QString file = sandbox.makeHomeFile(QStringLiteral("Downloads/a.pdf"), 10);
    CliRun run = sandbox.run(arguments);
    QVERIFY2(run.finished && run.exitCode == 2, run.describe());
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.errText().contains(QStringLiteral("brisko sort-downloads [--json]")), run.describe());
    QVERIFY(QFile::exists(file));
}

BRISKO_TEST(tst_CliSortDownloadsCommand)
#include "tst_CliSortDownloadsCommand.moc"
