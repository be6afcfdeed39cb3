#include "BriskoTest.h"
#include "TestValues.h"
#include "CliHarness.h"
#include "ScratchDir.h"
#include "TreeInventory.h"

#include "base/ByteCountFormatter.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <cstring>

namespace {

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

// A record's path as the bytes on disk: a name that is not UTF-8 is kept
// exactly under "<key>Native".
QByteArray recordPath(const QJsonObject& record, const QString& key)
{
    const QJsonValue exact = record.value(key + QStringLiteral("Native"));
    return exact.isString() ? QByteArray::fromBase64(exact.toString().toLatin1()) : record.value(key).toString().toUtf8();
}

QString resultLine(const QString& head, qint64 done, qint64 failed, qint64 freed)
{
    return head + QString::number(done) + QStringLiteral(", ошибок: ") + QString::number(failed)
        + QStringLiteral(", освобождено ") + ByteCountFormatter::format(freed);
}

} // namespace

class tst_CliFileCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void moveAndUndoAsJson();
    void moveOnlyTheNamedRowsAsText();
    void failuresGoToStandardErrorOrIntoTheObject();
    void anotherWriterAndAnUnwritableJournalFailTheMove();
    void trashCleanAndTheHistoryOfBoth();
    void safeCleanupListsAndCleans();
    void archiveFolderTakesTheArgument();
    void sortDownloads();
    void cleanArchiveCreateListAndRestore();
};

void tst_CliFileCommands::moveAndUndoAsJson()
{
    CliHarness cli;
    const QString report = cli.home().makeFile(QStringLiteral("Downloads/Отчёт за май.pdf"), 40000);
    const QString notes = cli.home().makeFile(QStringLiteral("Downloads/notes.txt"), 12000);
    const FilePath raw = cli.home().makeFileNative(QByteArray("Downloads/\xff\xfe-old-\xe9.bin"), 3000);
    const QString archive = cli.scratchPath(QStringLiteral("Архив"));
    QVERIFY(cli.setSetting(QStringLiteral("archivePath=") + archive));

    const QByteArray downloads = native(cli.home().filePath(QStringLiteral("Downloads")));
    const TreeInventory downloadsBefore = TreeInventory::take(downloads);
    const qint64 freed = ScratchDir::allocatedSize(native(report)) + ScratchDir::allocatedSize(native(notes))
        + ScratchDir::allocatedSize(raw.native());

    const QJsonObject moved = cli.runJson(words("move downloadsInbox --json"));
    QCOMPARE(without(moved, {"records"}),
             fields({{"moved", 3}, {"failed", 0}, {"errors", QJsonArray()}, {"freedBytes", freed},
                     {"status", resultLine(QStringLiteral("Перенесено: "), 3, 0, freed)},
                     {"category", QStringLiteral("downloadsInbox")}, {"archivePath", archive}, {"undoAvailable", true}}));
    // A record per item, from where it was to where it is; the exact bytes
    // of a name that is not UTF-8 included.
    QSet<QByteArray> originals;
    for (const QJsonValue& value : moved.value(QLatin1String("records")).toArray()) {
        const QByteArray destination = recordPath(value.toObject(), QStringLiteral("destinationPath"));
        QVERIFY2(destination.startsWith(native(archive) + '/') && ScratchDir::exists(destination), destination.constData());
        originals.insert(recordPath(value.toObject(), QStringLiteral("originalPath")));
    }
    QCOMPARE(originals, (QSet<QByteArray>{native(report), native(notes), raw.native()}));

    QCOMPARE(cli.runJson(words("undo --json")),
             fields({{"moved", 3}, {"failed", 0}, {"errors", QJsonArray()}, {"freedBytes", freed}, {"records", QJsonArray()},
                     {"status", QStringLiteral("Возвращено: 3, ошибок: 0")}, {"undoAvailable", false}}));
    QCOMPARE(TreeInventory::take(downloads).differencesFrom(downloadsBefore), QStringList());
}

void tst_CliFileCommands::moveOnlyTheNamedRowsAsText()
{
    CliHarness cli;
    const QString archive = cli.scratchPath(QStringLiteral("archive"));
    QVERIFY(QDir().mkpath(archive));
    QVERIFY(cli.setSetting(QStringLiteral("archivePath=") + archive));
    const QString kept = cli.home().makeFile(QStringLiteral("Downloads/оставить.txt"), 100);
    const QString dashed = cli.home().makeFile(QStringLiteral("Downloads/-минус.txt"), 100);

    CliRun run = cli.run(words("move downloadsInbox --only -- -минус.txt"));
    QCOMPARE(run.exitCode, 0);
    const QString destination = archive + QStringLiteral("/-минус.txt");
    const qint64 size = ScratchDir::allocatedSize(native(destination));
    QCOMPARE(run.outText(), QStringLiteral("%1 → %2\n%3\n").arg(dashed, destination,
                                                                 resultLine(QStringLiteral("Перенесено: "), 1, 0, size)));
    // A name that starts with a dash is given after "--"; progress and the
    // scan's status line go to standard error.
    QVERIFY2(run.errText().contains(QStringLiteral("Downloads (файлы в корне): найдено 2 элемента")), run.describe());
    QVERIFY(QFile::exists(kept) && QFile::exists(destination));

    run = cli.run(words("undo"));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.outText(), QStringLiteral("Возвращено: 1, ошибок: 0\n"));
    QVERIFY(QFile::exists(dashed) && !QFile::exists(destination));
}

void tst_CliFileCommands::failuresGoToStandardErrorOrIntoTheObject()
{
    CliHarness cli;
    // Refused at once: the state's reason on standard error, nothing else.
    for (const char* arguments : {"move downloadsInbox --json", "undo --json", "trash downloadsInbox"}) {
        const CliRun run = cli.run(words(arguments));
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.out.isEmpty(), run.describe());
        const QStringList lines = run.errText().split(QLatin1Char('\n'));
        QVERIFY2(lines.size() >= 2 && lines.at(lines.size() - 2).startsWith(QStringLiteral("brisko: ")), run.describe());
    }

    // An archive folder that cannot be made fails every item, which stays.
    const QString blocker = cli.scratchPath(QStringLiteral("просто файл"));
    QVERIFY(writeAll(blocker, {}));
    QVERIFY(cli.setSetting(QStringLiteral("archivePath=") + blocker + QStringLiteral("/Архив")));
    const QString item = cli.home().makeFile(QStringLiteral("Downloads/a.txt"), 100);
    const QString error =
        QStringLiteral("Не удалось создать папку архива: ") + QString::fromLocal8Bit(std::strerror(ENOTDIR));
    const QString status = resultLine(QStringLiteral("Перенесено: "), 0, 1, 0);

    QCOMPARE(cli.runJson(words("move downloadsInbox --json"), 1),
             fields({{"moved", 0}, {"failed", 1}, {"errors", QJsonArray{error}}, {"freedBytes", 0}, {"records", QJsonArray()},
                     {"status", status}, {"category", QStringLiteral("downloadsInbox")}, {"archivePath", blocker + QStringLiteral("/Архив")},
                     {"undoAvailable", false}}));

    const CliRun run = cli.run(words("move downloadsInbox"));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.errText().endsWith(QStringLiteral("brisko: ") + error + QLatin1Char('\n')), run.describe());
    QCOMPARE(run.outText(), status + QLatin1Char('\n'));
    QVERIFY(QFile::exists(item));
}

void tst_CliFileCommands::anotherWriterAndAnUnwritableJournalFailTheMove()
{
    CliHarness cli;
    const QString item = cli.home().makeFile(QStringLiteral("Downloads/a.txt"), 100);

    // Another process (the window, a second brisko) holds the writer lock.
    QProcess holder;
    holder.start(QStringLiteral(MOVE_CRASH_HELPER), {QStringLiteral("lock"), cli.defaultsFile()});
    QVERIFY(holder.waitForReadyRead(60000));
    QCOMPARE(holder.readLine(), QByteArray("locked\n"));
    CliRun run = cli.run(words("move downloadsInbox"));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.errText().contains(QStringLiteral("brisko: Файлы сейчас меняет другая копия Brisko Vella")),
             run.describe());
    QVERIFY(QFile::exists(item));
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(60000));

    // A store that cannot be written (a folder in its place): the one item
    // moves, but its record cannot be kept, and that alone fails the command.
    QVERIFY(QDir().mkpath(cli.defaultsFile()));
    run = cli.run(words("move downloadsInbox"));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.errText().contains(QStringLiteral("Не удалось сохранить журнал переноса в ") + cli.defaultsFile()),
             run.describe());
    QVERIFY(!QFile::exists(item));

    // Writable again: the next start stores the batch and says so.
    QVERIFY(QDir(cli.defaultsFile()).removeRecursively());
    const QJsonObject undone = cli.runJson(words("undo --json"));
    QCOMPARE(undone.value(QLatin1String("moved")).toInteger(-1), 1);
    QCOMPARE(undone.value(QLatin1String("recovery")).toObject().value(QLatin1String("recorded")).toInteger(-1), 1);
    QVERIFY(QFile::exists(item));
}

void tst_CliFileCommands::trashCleanAndTheHistoryOfBoth()
{
    CliHarness cli;
    const QString report = cli.home().makeFile(QStringLiteral("Downloads/Отчёт за май.pdf"), 40000);
    const QString kept = cli.home().makeFile(QStringLiteral("Downloads/оставить.txt"), 100);
    const QString blob = cli.home().makeFile(QStringLiteral(".cache/com.example.tool/blob"), 6 * MiB);
    cli.clock().setNow(QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)));
    QCOMPARE(cli.run(words("history")).outText(), QStringLiteral("История пуста\n"));

    const qint64 trashedBytes = ScratchDir::allocatedSize(native(report));
    QCOMPARE(cli.runJson(words("trash downloadsInbox --json --only") + QStringList{QStringLiteral("Отчёт за май.pdf")}),
             fields({{"deleted", 1}, {"failed", 0}, {"freedBytes", trashedBytes}, {"errors", QJsonArray()},
                     {"category", QStringLiteral("downloadsInbox")},
                     {"status", resultLine(QStringLiteral("В Корзину: "), 1, 0, trashedBytes)}}));
    QVERIFY(!QFile::exists(report) && QFile::exists(kept));
    QVERIFY(QFile::exists(cli.trashFiles() + QStringLiteral("/Отчёт за май.pdf")));

    cli.clock().advance(60);
    const qint64 cleanedBytes = ScratchDir::allocatedSize(native(blob));
    const CliRun cleaned = cli.run(words("clean systemJunk"));
    QCOMPARE(cleaned.exitCode, 0);
    QCOMPARE(cleaned.outText(), resultLine(QStringLiteral("Очищено: "), 1, 0, cleanedBytes) + QLatin1Char('\n'));
    QVERIFY(!QFileInfo::exists(cli.home().filePath(QStringLiteral(".cache/com.example.tool"))));

    // Newest first, dates as stored: seconds from 2001-01-01 UTC.
    const QJsonObject history = cli.runJson(words("history --json"));
    const QJsonArray events = history.value(QLatin1String("events")).toArray();
    QCOMPARE(events.size(), 2);
    const QString actions[] = {QStringLiteral("Очистка из скана"), QStringLiteral("Удаление в Корзину")};
    const qint64 bytes[] = {cleanedBytes, trashedBytes};
    const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    for (qsizetype i = 0; i < 2; ++i) {
        const QJsonObject event = events.at(i).toObject();
        QCOMPARE(without(event, {"id"}), fields({{"action", actions[i]}, {"itemCount", 1}, {"bytesFreed", bytes[i]},
                                               {"date", double(reference.secsTo(cli.clock().now()) - (i == 0 ? 0 : 60))}}));
    }
    QCOMPARE(history.value(QLatin1String("stats")).toObject(),
             fields({{"totalFreed", cleanedBytes + trashedBytes}, {"eventCount", 2}, {"lastEvent", events.at(0)}}));

    const QStringList lines = cli.run(words("history")).outText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 6); // header, two events, a blank line, totals, the end
    const QString date = cli.clock().now().toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QVERIFY2(lines.at(1).startsWith(date) && lines.at(1).endsWith(actions[0])
                 && lines.at(1).contains(ByteCountFormatter::format(cleanedBytes)),
             qPrintable(lines.at(1)));
    QCOMPARE(lines.at(4), QStringLiteral("Освобождено ") + ByteCountFormatter::format(cleanedBytes + trashedBytes)
                              + QStringLiteral(", операций: 2"));
}

void tst_CliFileCommands::safeCleanupListsAndCleans()
{
    CliHarness cli;
    // Too small to be worth it: nothing to clean is a success.
    const QString small = cli.home().makeFile(QStringLiteral(".cache/google-chrome/small"), 100 * 1024);
    CliRun run = cli.run(words("safe-cleanup clean"));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.outText(), QStringLiteral("Безопасные кэши не найдены или уже очищены\n"));

    cli.home().makeFile(QStringLiteral(".cache/pip/http/blob"), 3 * MiB);
    cli.home().makeFile(QStringLiteral(".npm/_cacache/content-v2/пакет.tgz"), 2 * MiB);
    const QString paths[] = {cli.home().filePath(QStringLiteral(".cache/pip")),
                             cli.home().filePath(QStringLiteral(".npm/_cacache"))};
    const QJsonObject listed = cli.runJson(words("safe-cleanup list --json"));
    const QJsonArray candidates = listed.value(QLatin1String("candidates")).toArray();
    QCOMPARE(candidates.size(), 2);
    qint64 total = 0;
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        const QJsonObject candidate = candidates.at(i).toObject();
        QVERIFY(!QUuid::fromString(candidate.value(QLatin1String("id")).toString()).isNull());
        QVERIFY(candidate.value(QLatin1String("size")).toInteger() > MiB);
        QCOMPARE(without(candidate, {"id", "size"}),
                 fields({{"label", i == 0 ? QStringLiteral("pip") : QStringLiteral("npm")}, {"path", paths[i]},
                         {"risk", QStringLiteral("safe")}, {"isSelected", true}}));
        total += candidate.value(QLatin1String("size")).toInteger();
    }
    QCOMPARE(listed.value(QLatin1String("totalBytes")).toInteger(-1), total);
    const QString found = QStringLiteral("Найдено 2 кэша (") + ByteCountFormatter::format(total) + QStringLiteral(")");
    QCOMPARE(listed.value(QLatin1String("status")).toString(), found);

    run = cli.run(words("safe-cleanup list"));
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.outText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 6); // header, two caches, a blank line, status, the end
    QVERIFY2(lines.at(2).contains(QLatin1String("npm")) && lines.at(2).endsWith(paths[1]), run.describe());
    QCOMPARE(lines.at(4), found);

    QCOMPARE(cli.runJson(words("safe-cleanup clean --json")),
             fields({{"deleted", 2}, {"failed", 0}, {"freedBytes", total}, {"errors", QJsonArray()}, {"candidates", QJsonArray()},
                     {"status", resultLine(QStringLiteral("Удалено: "), 2, 0, total)}}));
    QVERIFY(!QFileInfo::exists(paths[0]) && !QFileInfo::exists(paths[1]) && QFile::exists(small));
}

void tst_CliFileCommands::archiveFolderTakesTheArgument()
{
    CliHarness cli;
    const QString folder = cli.scratchPath(QStringLiteral("Архив на диске"));
    QVERIFY(QDir().mkpath(folder));

    // A relative path is taken from the working folder.
    const QString working = QDir::currentPath();
    QVERIFY(QDir::setCurrent(cli.scratchPath(QString())));
    CliRun run = cli.run({QStringLiteral("archive-folder"), QStringLiteral("./Архив на диске/")});
    QVERIFY(QDir::setCurrent(working));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.outText(), QStringLiteral("Папка архива: ") + folder + QLatin1Char('\n'));
    QCOMPARE(cli.storedSettings().value(QLatin1String("archivePath")).toString(), folder);

    // What a folder dialog would not offer is refused and changes nothing.
    const QString file = cli.scratchPath(QStringLiteral("файл"));
    QVERIFY(writeAll(file, {}));
    for (const QString& wrong : {file, cli.scratchPath(QStringLiteral("нет такой"))}) {
        run = cli.run({QStringLiteral("archive-folder"), wrong});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.out.isEmpty(), run.describe());
        QCOMPARE(run.errText(), QStringLiteral("brisko: «") + wrong + QStringLiteral("» — не папка\n"));
        QCOMPARE(cli.storedSettings().value(QLatin1String("archivePath")).toString(), folder);
    }

    // A store that cannot be written: the choice is not kept, and that is said.
    QVERIFY(QFile::remove(cli.defaultsFile()));
    QVERIFY(QDir().mkpath(cli.defaultsFile()));
    run = cli.run({QStringLiteral("archive-folder"), folder});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.errText(), QStringLiteral("brisko: не удалось сохранить настройки в ") + cli.defaultsFile() + QLatin1Char('\n'));
}

void tst_CliFileCommands::sortDownloads()
{
    CliHarness cli;
    cli.home().makeFile(QStringLiteral("Downloads/Отчёт за май.PDF"), 3000);
    cli.home().makeFile(QStringLiteral("Downloads/фильм.mkv"), 5000);
    cli.home().makeFile(QStringLiteral("Downloads/Проект/план.txt"), 100);
    cli.home().makeFileNative("Downloads/\xcf\xf0\xe8\xe2\xe5\xf2.txt", 42);

    QCOMPARE(cli.runJson(words("sort-downloads --json")),
             fields({{"moved", 3}, {"skipped", 1}, {"failed", 0}, {"errors", QJsonArray()},
                     {"byBucket", fields({{"Documents", 2}, {"Video", 1}})},
                     {"status", QStringLiteral("Разложено 3 файла в Downloads/_Sorted/ (Documents: 2, Video: 1). "
                                               "Пропущено папок: 1, ошибок: 0")}}));

    // A file where the sorted folder should be: the move fails, in place,
    // and so does the run.
    QVERIFY(ScratchDir::removeTree(native(cli.home().filePath(QStringLiteral("Downloads/_Sorted")))));
    cli.home().makeFile(QStringLiteral("Downloads/_Sorted"), 10);
    const QString left = cli.home().makeFile(QStringLiteral("Downloads/смета.xlsx"), 300);
    const CliRun run = cli.run(words("sort-downloads"));
    QCOMPARE(run.exitCode, 1);
    const QString error = QStringLiteral("смета.xlsx: ") + QString::fromLocal8Bit(std::strerror(ENOTDIR));
    QVERIFY2(run.errText().contains(QStringLiteral("Сортировка Downloads…")), run.describe());
    QVERIFY2(run.errText().endsWith(QStringLiteral("brisko: ") + error + QLatin1Char('\n')), run.describe());
    QCOMPARE(run.outText(), QStringLiteral("Разложено 0 файлов в Downloads/_Sorted/ (). Пропущено папок: 1, ошибок: 1\n"));
    QVERIFY(QFile::exists(left));
}

void tst_CliFileCommands::cleanArchiveCreateListAndRestore()
{
    CliHarness cli;
    const QString archive = cli.scratchPath(QStringLiteral("archive"));
    QVERIFY(cli.setSetting(QStringLiteral("archivePath=") + archive));
    CliRun run = cli.run(words("archive list"));
    QCOMPARE(run.outText(), QStringLiteral("Архивов нет в ") + archive + QStringLiteral("/CleanArchives\n"));
    run = cli.run(words("archive restore Brisko_nope"));
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.errText(), QStringLiteral("brisko: архив «Brisko_nope» не найден в ") + archive
                                + QStringLiteral("/CleanArchives\n"));

    cli.home().makeFile(QStringLiteral("Documents/Отчёт за май.pdf"), 300000);
    cli.home().makeFile(QStringLiteral("Desktop/notes.txt"), 1000);
    const QByteArray documents = native(cli.home().filePath(QStringLiteral("Documents")));

    const QJsonObject created = cli.runJson(words("archive create essential --json"));
    const QString id = created.value(QLatin1String("id")).toString();
    const QJsonObject manifest = created.value(QLatin1String("manifest")).toObject();
    QCOMPARE(manifest.value(QLatin1String("compression")).toString(), QStringLiteral("tar.zst"));
    QCOMPARE(without(created, {"manifest", "status"}),
             fields({{"id", id}, {"path", archive + QStringLiteral("/CleanArchives/") + id}, {"copiedFiles", 2},
                     {"errors", QJsonArray()}}));
    QVERIFY(id.startsWith(QLatin1String("Brisko_")));

    const QJsonObject listed = cli.runJson(words("archive list --json"));
    QCOMPARE(listed, fields({{"archives", QJsonArray{fields({{"id", id}, {"path", created.value(QLatin1String("path"))},
                                                              {"manifest", manifest}})}}}));
    const QStringList table = cli.run(words("archive list")).outText().split(QLatin1Char('\n'));
    QCOMPARE(table.size(), 3);
    QVERIFY2(table.at(1).startsWith(id) && table.at(1).contains(QStringLiteral("Документы и рабочий стол"))
                 && table.at(1).contains(QStringLiteral(" (tar.zst)")),
             qPrintable(table.at(1)));

    // Documents is gone from the home, the Desktop is still there.
    QVERIFY(ScratchDir::removeTree(documents));
    QCOMPARE(cli.runJson({QStringLiteral("archive"), QStringLiteral("restore"), id, QStringLiteral("--json")}),
             fields({{"id", id}, {"restored", 1}, {"skipped", 1}, {"failed", 0}, {"errors", QJsonArray()},
                     {"status", QStringLiteral("Восстановлено: 1, пропущено (уже есть): 1, ошибок: 0")}}));
    QVERIFY(ScratchDir::exists(documents + "/Отчёт за май.pdf"));
}

BRISKO_TEST(tst_CliFileCommands)
#include "tst_CliFileCommands.moc"
