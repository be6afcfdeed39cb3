#include "BriskoTest.h"
#include "CliSandbox.h"
#include "platform/ByteCountFormatter.h"
#include "platform/RussianPlural.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

#include <sys/stat.h>

namespace {

constexpr qint64 mebibyte = 1024 * 1024;

// What the scanner reports for a file: the space it occupies on disk.
qint64 allocatedSize(const QByteArray& nativePath)
{
    struct stat info;
    if (::stat(nativePath.constData(), &info) != 0) {
        return -1;
    }
    return qint64(info.st_blocks) * 512;
}

qint64 allocatedSize(const QString& path)
{
    return allocatedSize(QFile::encodeName(path));
}

QStringList names(const QJsonArray& items)
{
    QStringList list;
    for (const QJsonValue& item : items) {
        list.append(item.toObject().value(QLatin1String("name")).toString());
    }
    return list;
}

QString statusFor(const QString& title, const QJsonObject& result)
{
    const qsizetype count = result.value(QLatin1String("items")).toArray().size();
    return title + QStringLiteral(": найдено ") + RussianPlural::count(count, RussianPlural::items) + QStringLiteral(" (")
        + ByteCountFormatter::format(result.value(QLatin1String("totalBytes")).toInteger()) + QStringLiteral(")");
}

} // namespace

class tst_CliScanCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void downloadsInboxListsLooseFilesLargestFirst();
    void largeLooseFilesFollowThresholdSetThroughSettings();
    void oldInstallersGoByModificationDate();
    void systemJunkPreselectsOnlySafeCaches();
    void emptyHomeFindsNothing();
    void readableOutputWithProgressLines();
    void progressIsRedrawnOnTerminal();
    void badArgumentsAreUsageErrors_data();
    void badArgumentsAreUsageErrors();

private:
    static QJsonObject scanJson(const CliSandbox& sandbox, const QString& category);
};

QJsonObject tst_CliScanCommand::scanJson(const CliSandbox& sandbox, const QString& category)
{
    const CliRun run = sandbox.run({QStringLiteral("scan"), category, QStringLiteral("--json")});
    if (!run.finished || run.exitCode != 0 || !run.json() || !run.json()->isObject()) {
        qWarning("%s", run.describe().constData());
        return {};
    }
    // With --json standard error carries no progress: scripts may merge it.
    if (!run.err.isEmpty()) {
        qWarning("unexpected stderr: %s", run.err.constData());
        return {};
    }
    return run.json()->object();
}

void tst_CliScanCommand::downloadsInboxListsLooseFilesLargestFirst()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    TempHome& home = sandbox.home();
    const QString report = home.makeFile(QStringLiteral("Downloads/Отчёт за май.pdf"), 40000);
    const QString notes = home.makeFile(QStringLiteral("Downloads/notes.txt"), 12000);
    const FilePath raw = home.makeFileNative(QByteArray("Downloads/\xff\xfe-old-\xe9.bin"), 100);
    home.makeFile(QStringLiteral("Downloads/.hidden"), 50000);
    home.makeFile(QStringLiteral("Downloads/Проекты/inside.bin"), 60000);

    const QJsonObject result = scanJson(sandbox, QStringLiteral("downloadsInbox"));
    QCOMPARE(result.value(QLatin1String("category")).toString(), QStringLiteral("downloadsInbox"));
    const QJsonArray items = result.value(QLatin1String("items")).toArray();
    QCOMPARE(items.size(), 3);

    const QStringList found = names(items);
    QCOMPARE(found.at(0), QStringLiteral("Отчёт за май.pdf"));
    QCOMPARE(found.at(1), QStringLiteral("notes.txt"));
    // A name that is not UTF-8 is shown with replacement characters.
    QVERIFY2(found.at(2).contains(QChar(QChar::ReplacementCharacter)) && found.at(2).contains(QLatin1String("-old-")),
             qPrintable(found.at(2)));

    const qint64 expectedSizes[] = {allocatedSize(report), allocatedSize(notes), allocatedSize(raw.native())};
    const QString expectedPaths[] = {report, notes, QString()};
    qint64 total = 0;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QJsonObject item = items.at(i).toObject();
        QCOMPARE(item.value(QLatin1String("size")).toInteger(), expectedSizes[i]);
        QCOMPARE(item.value(QLatin1String("category")).toString(), QStringLiteral("downloadsInbox"));
        QCOMPARE(item.value(QLatin1String("isDirectory")), QJsonValue(false));
        QCOMPARE(item.value(QLatin1String("isSelected")), QJsonValue(true));
        // The modification date, written relative to now.
        QVERIFY(item.value(QLatin1String("detail")).isString());
        QVERIFY(!item.value(QLatin1String("detail")).toString().isEmpty());
        if (!expectedPaths[i].isEmpty()) {
            QCOMPARE(item.value(QLatin1String("path")).toString(), expectedPaths[i]);
        } else {
            QVERIFY(item.value(QLatin1String("path")).toString().startsWith(home.filePath(QStringLiteral("Downloads/"))));
        }
        total += item.value(QLatin1String("size")).toInteger();
    }
    QVERIFY(expectedSizes[0] > expectedSizes[1] && expectedSizes[1] > expectedSizes[2]);
    QCOMPARE(result.value(QLatin1String("totalBytes")).toInteger(), total);
    QCOMPARE(result.value(QLatin1String("status")).toString(),
             statusFor(QStringLiteral("Downloads (файлы в корне)"), result));
}

void tst_CliScanCommand::largeLooseFilesFollowThresholdSetThroughSettings()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    TempHome& home = sandbox.home();
    const QString video = home.makeFile(QStringLiteral("Downloads/видео.mov"), 2 * mebibyte + 100);
    const QString big = home.makeFile(QStringLiteral("Downloads/big.bin"), 3 * mebibyte / 2);
    home.makeFile(QStringLiteral("Downloads/small.bin"), mebibyte / 2);
    home.makeFile(QStringLiteral("Downloads/Архив/huge.bin"), 3 * mebibyte);

    // With the default 50 MB nothing here qualifies.
    QVERIFY(scanJson(sandbox, QStringLiteral("largeLooseFiles")).value(QLatin1String("items")).toArray().isEmpty());

    const CliRun set = sandbox.run({QStringLiteral("settings"), QStringLiteral("set"),
                                    QStringLiteral("largeFileThresholdMB=1")});
    QVERIFY2(set.finished && set.exitCode == 0, set.describe());

    const QJsonObject result = scanJson(sandbox, QStringLiteral("largeLooseFiles"));
    const QJsonArray items = result.value(QLatin1String("items")).toArray();
    QCOMPARE(names(items), (QStringList{QStringLiteral("видео.mov"), QStringLiteral("big.bin")}));
    const QJsonObject first = items.at(0).toObject();
    QCOMPARE(first.value(QLatin1String("path")).toString(), video);
    QCOMPARE(first.value(QLatin1String("size")).toInteger(), allocatedSize(video));
    QCOMPARE(first.value(QLatin1String("detail")), QJsonValue(QJsonValue::Null));
    QCOMPARE(first.value(QLatin1String("isSelected")), QJsonValue(true));
    QCOMPARE(first.value(QLatin1String("category")).toString(), QStringLiteral("largeLooseFiles"));
    QCOMPARE(items.at(1).toObject().value(QLatin1String("size")).toInteger(), allocatedSize(big));
    QCOMPARE(result.value(QLatin1String("totalBytes")).toInteger(), allocatedSize(video) + allocatedSize(big));
    QCOMPARE(result.value(QLatin1String("status")).toString(),
             statusFor(QStringLiteral("Крупные файлы в Downloads"), result));
}

void tst_CliScanCommand::oldInstallersGoByModificationDate()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    TempHome& home = sandbox.home();
    const QDateTime now = QDateTime::currentDateTime();
    home.makeFile(QStringLiteral("Downloads/Old.DMG"), 20000, now.addDays(-40));
    home.makeFile(QStringLiteral("Downloads/Установка.pkg"), 8000, now.addDays(-100));
    home.makeFile(QStringLiteral("Downloads/new.dmg"), 30000, now.addDays(-2));
    home.makeFile(QStringLiteral("Downloads/old.zip"), 9000, now.addDays(-90));
    home.makeDir(QStringLiteral("Downloads/folder.dmg"), now.addDays(-90));

    QJsonObject result = scanJson(sandbox, QStringLiteral("oldInstallers"));
    QJsonArray items = result.value(QLatin1String("items")).toArray();
    QCOMPARE(names(items), (QStringList{QStringLiteral("Old.DMG"), QStringLiteral("Установка.pkg")}));
    QCOMPARE(items.at(0).toObject().value(QLatin1String("detail")).toString(), QStringLiteral("40 дн. назад"));
    QCOMPARE(items.at(1).toObject().value(QLatin1String("detail")).toString(), QStringLiteral("100 дн. назад"));
    QCOMPARE(items.at(0).toObject().value(QLatin1String("isSelected")), QJsonValue(true));
    QCOMPARE(result.value(QLatin1String("status")).toString(), statusFor(QStringLiteral("Старые установщики"), result));

    const CliRun set = sandbox.run({QStringLiteral("settings"), QStringLiteral("set"),
                                    QStringLiteral("installerMaxAgeDays=50")});
    QVERIFY2(set.finished && set.exitCode == 0, set.describe());
    result = scanJson(sandbox, QStringLiteral("oldInstallers"));
    items = result.value(QLatin1String("items")).toArray();
    QCOMPARE(names(items), QStringList{QStringLiteral("Установка.pkg")});
}

void tst_CliScanCommand::systemJunkPreselectsOnlySafeCaches()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    TempHome& home = sandbox.home();
    const QString tool = home.makeFile(QStringLiteral(".cache/com.example.tool/blob"), 5 * mebibyte + 3 * 4096);
    const QString cyrillic =
        home.makeFile(QStringLiteral(".cache/Кэш-Приложение/data/part"), 5 * mebibyte + 6 * 4096);
    home.makeFile(QStringLiteral(".cache/small/x"), mebibyte);
    home.makeFile(QStringLiteral(".xsession-errors"), 1000);
    const QString trashed = home.makeFile(QStringLiteral(".local/share/Trash/files/deleted.txt"), 10);

    const QJsonObject result = scanJson(sandbox, QStringLiteral("systemJunk"));
    const QJsonArray items = result.value(QLatin1String("items")).toArray();
    QCOMPARE(names(items),
             (QStringList{QStringLiteral("Кэш-Приложение"), QStringLiteral("com.example.tool"), QStringLiteral("Trash")}));

    struct Expected
    {
        QString path;
        qint64 size;
        bool selected;
        QString detail;
    };
    const Expected expected[] = {
        {home.filePath(QStringLiteral(".cache/Кэш-Приложение")), allocatedSize(cyrillic), true,
         QStringLiteral("Кэш «Кэш-Приложение» — безопасно удалять, приложение пересоздаст")},
        {home.filePath(QStringLiteral(".cache/com.example.tool")), allocatedSize(tool), true,
         QStringLiteral("Кэш «com.example.tool» — безопасно удалять, приложение пересоздаст")},
        // The Trash is shown but never cleaned automatically.
        {home.filePath(QStringLiteral(".local/share/Trash")), allocatedSize(trashed), false,
         QStringLiteral("Корзина — очистите в файловом менеджере («Очистить корзину»)")},
    };
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QJsonObject item = items.at(i).toObject();
        QCOMPARE(item.value(QLatin1String("path")).toString(), expected[i].path);
        QCOMPARE(item.value(QLatin1String("size")).toInteger(), expected[i].size);
        QCOMPARE(item.value(QLatin1String("isSelected")).toBool(), expected[i].selected);
        QCOMPARE(item.value(QLatin1String("isDirectory")), QJsonValue(true));
        QCOMPARE(item.value(QLatin1String("detail")).toString(), expected[i].detail);
        QCOMPARE(item.value(QLatin1String("category")).toString(), QStringLiteral("systemJunk"));
    }
    QCOMPARE(result.value(QLatin1String("status")).toString(), statusFor(QStringLiteral("Служебный мусор"), result));
}

void tst_CliScanCommand::emptyHomeFindsNothing()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QJsonObject result = scanJson(sandbox, QStringLiteral("largeFolders"));
    QCOMPARE(result.value(QLatin1String("category")).toString(), QStringLiteral("largeFolders"));
    QVERIFY(result.value(QLatin1String("items")).isArray());
    QVERIFY(result.value(QLatin1String("items")).toArray().isEmpty());
    QCOMPARE(result.value(QLatin1String("totalBytes")).toInteger(-1), 0);
    QCOMPARE(result.value(QLatin1String("status")).toString(),
             QStringLiteral("Большие папки: найдено 0 элементов (0\u00a0байт)"));
}

void tst_CliScanCommand::readableOutputWithProgressLines()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    TempHome& home = sandbox.home();
    const QString report = home.makeFile(QStringLiteral("Downloads/Отчёт.pdf"), 40000);
    const QString notes = home.makeFile(QStringLiteral("Downloads/notes.txt"), 100);

    const CliRun run = sandbox.run({QStringLiteral("scan"), QStringLiteral("downloadsInbox")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());

    const QStringList lines = run.outText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4); // header, two rows, status
    QVERIFY2(lines.at(1).contains(QStringLiteral("Отчёт.pdf")) && lines.at(1).contains(QLatin1String("[x]"))
                 && lines.at(1).contains(ByteCountFormatter::format(allocatedSize(report))),
             qPrintable(lines.at(1)));
    QVERIFY2(lines.at(2).contains(QLatin1String("notes.txt"))
                 && lines.at(2).contains(ByteCountFormatter::format(allocatedSize(notes))),
             qPrintable(lines.at(2)));
    QCOMPARE(lines.at(3), QStringLiteral("Downloads (файлы в корне): найдено 2 элемента (")
                              + ByteCountFormatter::format(allocatedSize(report) + allocatedSize(notes))
                              + QStringLiteral(")"));

    // Standard error is a pipe here: one plain line per report, no redrawing.
    QVERIFY2(!run.err.contains('\r') && !run.err.contains('\x1b'), run.err.constData());
    QVERIFY(run.err.endsWith('\n'));
    const QStringList progress = run.errText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(progress.size() >= 2, run.err.constData());
    QVERIFY2(progress.first().contains(QStringLiteral("Подготовка…")), run.err.constData());
    QVERIFY2(progress.last().contains(QLatin1String("100%")) && progress.last().contains(QStringLiteral("Готово"))
                 && progress.last().endsWith(QLatin1Char('2')),
             run.err.constData());
}

void tst_CliScanCommand::progressIsRedrawnOnTerminal()
{
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    sandbox.home().makeFile(QStringLiteral("Downloads/файл.txt"), 100);

    const CliRun run = sandbox.runWithTerminalStderr({QStringLiteral("scan"), QStringLiteral("downloadsInbox")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    QVERIFY(run.outText().contains(QStringLiteral("файл.txt")));
    // Every report rewrites the same line; only the end moves to a new one.
    QVERIFY2(run.err.startsWith('\r'), run.err.constData());
    QVERIFY2(run.err.count("\x1b[K") >= 2, run.err.constData());
    QCOMPARE(run.err.count('\n'), 1);
    QVERIFY(run.errText().contains(QStringLiteral("Готово")));
}

void tst_CliScanCommand::badArgumentsAreUsageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentioned");

    QTest::newRow("no category") << QStringList{QStringLiteral("scan")} << QStringLiteral("scan");
    QTest::newRow("only --json") << QStringList{QStringLiteral("scan"), QStringLiteral("--json")}
                                 << QStringLiteral("scan");
    QTest::newRow("unknown category") << QStringList{QStringLiteral("scan"), QStringLiteral("bogus")}
                                      << QStringLiteral("bogus");
    QTest::newRow("wrong case") << QStringList{QStringLiteral("scan"), QStringLiteral("DownloadsInbox"),
                                               QStringLiteral("--json")}
                                << QStringLiteral("DownloadsInbox");
    QTest::newRow("title instead of raw value")
        << QStringList{QStringLiteral("scan"), QStringLiteral("Служебный мусор")} << QStringLiteral("Служебный мусор");
    QTest::newRow("two categories") << QStringList{QStringLiteral("scan"), QStringLiteral("downloadsInbox"),
                                                   QStringLiteral("systemJunk")}
                                    << QStringLiteral("scan");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("scan"), QStringLiteral("downloadsInbox"),
                                                   QStringLiteral("--xml")}
                                    << QStringLiteral("--xml");
    QTest::newRow("flag with value") << QStringList{QStringLiteral("scan"), QStringLiteral("downloadsInbox"),
                                                    QStringLiteral("--json=yes")}
                                     << QStringLiteral("--json");
}

void tst_CliScanCommand::badArgumentsAreUsageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentioned);
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    sandbox.home().makeFile(QStringLiteral("Downloads/file.txt"), 10);

    const CliRun run = sandbox.run(arguments);
    QVERIFY2(run.finished, run.describe());
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.out.isEmpty(), run.out.constData());
    QVERIFY2(run.errText().contains(mentioned), run.err.constData());
    // The short usage of the command follows the message.
    QVERIFY2(run.errText().contains(QLatin1String("brisko scan ")), run.err.constData());
}

BRISKO_TEST(tst_CliScanCommand)
#include "tst_CliScanCommand.moc"
