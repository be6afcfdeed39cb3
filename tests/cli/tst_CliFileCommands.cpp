#include "BriskoTest.h"
#include "CliHarness.h"
#include "CliSandbox.h"
#include "ScratchDir.h"
#include "TestValues.h"
#include "TreeInventory.h"

#include "base/ByteCountFormatter.h"
#include "base/RelativeDateFormatter.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// What the scanner reports for a file: the space it occupies on disk.
qint64 spaceOnDisk(const QString& path)
{
    return ScratchDir::allocatedSize(QFile::encodeName(path));
}

// One signal's bit in a mask of /proc/PID/status ("SigCgt:", "ShdPnd:", …).
bool statusMaskHas(pid_t pid, const QByteArray& field, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return false;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':')) {
            return (line.mid(field.size() + 1).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
        }
    }
    return false;
}

std::vector<char*> nullTerminated(QByteArrayList& list)
{
    std::vector<char*> pointers;
    for (QByteArray& each : list) {
        pointers.push_back(each.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

// The scan command with its rows and progress, the commands that change
// files, on real folders, and Ctrl+C on a real process.
class tst_CliFileCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void moveAndUndo();
    void failuresGoToStandardErrorOrIntoTheObject();
    void anotherWriterAndAnUnwritableJournalFailTheMove();
    void trashCleanAndTheHistoryOfBoth();
    void safeCleanupListsAndCleans();
    void archiveFolderTakesTheArgument();
    void sortDownloads();
    void cleanArchiveCreateListAndRestore();
    void jsonRowsOfAHostileHome();
    void readableOutputWithProgressLines_data();
    void readableOutputWithProgressLines();
    void ctrlCStopsTheScanAndASecondOneEndsTheProgram_data();
    void ctrlCStopsTheScanAndASecondOneEndsTheProgram();
};

void tst_CliFileCommands::moveAndUndo()
{
    CliHarness cli;
    const QString report = cli.home().makeFile(QStringLiteral("Downloads/Отчёт за май.pdf"), 40000);
    const QString notes = cli.home().makeFile(QStringLiteral("Downloads/notes.txt"), 12000);
    const FilePath raw = cli.home().makeFileNative(QByteArray("Downloads/\xff\xfe-old-\xe9.bin"), 3000);
    const QString archive = cli.scratchPath(QStringLiteral("Архив"));
    QVERIFY(cli.setSetting(QStringLiteral("archivePath=") + archive));

    const QByteArray downloads = native(cli.home().filePath(QStringLiteral("Downloads")));
    const TreeInventory downloadsBefore = TreeInventory::take(downloads);
    const qint64 freed = spaceOnDisk(report) + spaceOnDisk(notes) + ScratchDir::allocatedSize(raw.native());

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

    // As text, only the row named after "--" (its name starts with a dash);
    // progress and the scan's status line go to standard error.
    const QString dashed = cli.home().makeFile(QStringLiteral("Downloads/-минус.txt"), 100);
    CliRun run = cli.run(words("move downloadsInbox --only -- -минус.txt"));
    QCOMPARE(run.exitCode, 0);
    const QString destination = archive + QStringLiteral("/-минус.txt");
    QCOMPARE(run.outText(), QStringLiteral("%1 → %2\n%3\n").arg(dashed, destination,
                                                                 resultLine(QStringLiteral("Перенесено: "), 1, 0, spaceOnDisk(destination))));
    QVERIFY2(run.errText().contains(QStringLiteral("Downloads (файлы в корне): найдено 4 элемента")), run.describe());
    QVERIFY(QFile::exists(report) && QFile::exists(destination));
    run = cli.run(words("undo"));
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

    // An archive folder that cannot be made fails every item: exit 1, the
    // errors in the object or on standard error, the status on standard output.
    const QString blocker = cli.scratchPath(QStringLiteral("просто файл"));
    QVERIFY(writeAll(blocker, {}));
    QVERIFY(cli.setSetting(QStringLiteral("archivePath=") + blocker + QStringLiteral("/Архив")));
    cli.home().makeFile(QStringLiteral("Downloads/a.txt"), 100);
    const QString error =
        QStringLiteral("Не удалось создать папку архива: ") + QString::fromLocal8Bit(std::strerror(ENOTDIR));
    const QString status = resultLine(QStringLiteral("Перенесено: "), 0, 1, 0);
    const QJsonObject failed = cli.runJson(words("move downloadsInbox --json"), 1);
    QCOMPARE(failed.value(QLatin1String("errors")).toArray(), QJsonArray{error});
    QCOMPARE(failed.value(QLatin1String("status")).toString(), status);
    const CliRun run = cli.run(words("move downloadsInbox"));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.errText().endsWith(QStringLiteral("brisko: ") + error + QLatin1Char('\n')), run.describe());
    QCOMPARE(run.outText(), status + QLatin1Char('\n'));
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

    const qint64 trashedBytes = spaceOnDisk(report);
    QCOMPARE(cli.runJson(words("trash downloadsInbox --json --only") + QStringList{QStringLiteral("Отчёт за май.pdf")}),
             fields({{"deleted", 1}, {"failed", 0}, {"freedBytes", trashedBytes}, {"errors", QJsonArray()},
                     {"category", QStringLiteral("downloadsInbox")},
                     {"status", resultLine(QStringLiteral("В Корзину: "), 1, 0, trashedBytes)}}));
    QVERIFY(!QFile::exists(report) && QFile::exists(kept));

    // A row of a folder, as a scan prints it.
    const QJsonArray junk = cli.runJson(words("scan systemJunk --json")).value(QLatin1String("items")).toArray();
    QCOMPARE(junk.first().toObject().value(QLatin1String("isDirectory")), QJsonValue(true));

    cli.clock().advance(60);
    const qint64 cleanedBytes = spaceOnDisk(blob);
    const CliRun cleaned = cli.run(words("clean systemJunk"));
    QCOMPARE(cleaned.exitCode, 0);
    QCOMPARE(cleaned.outText(), resultLine(QStringLiteral("Очищено: "), 1, 0, cleanedBytes) + QLatin1Char('\n'));

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
    QVERIFY2(lines.at(1).startsWith(date) && lines.at(1).endsWith(actions[0]), qPrintable(lines.at(1)));
    QCOMPARE(lines.at(4), QStringLiteral("Освобождено ") + ByteCountFormatter::format(cleanedBytes + trashedBytes)
                              + QStringLiteral(", операций: 2"));
}

void tst_CliFileCommands::safeCleanupListsAndCleans()
{
    CliHarness cli;
    CliRun run = cli.run(words("safe-cleanup clean"));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.outText(), QStringLiteral("Безопасные кэши не найдены или уже очищены\n"));

    const QString pip = cli.home().filePath(QStringLiteral(".cache/pip"));
    cli.home().makeFile(QStringLiteral(".cache/pip/http/пакет.whl"), 3 * MiB);
    const QJsonObject listed = cli.runJson(words("safe-cleanup list --json"));
    const QJsonObject candidate = listed.value(QLatin1String("candidates")).toArray().first().toObject();
    QVERIFY(!QUuid::fromString(candidate.value(QLatin1String("id")).toString()).isNull());
    const qint64 size = candidate.value(QLatin1String("size")).toInteger();
    const QString found = QStringLiteral("Найдено 1 кэш (") + ByteCountFormatter::format(size) + QStringLiteral(")");
    QCOMPARE(without(listed, {"candidates"}), fields({{"totalBytes", size}, {"status", found}}));
    QCOMPARE(without(candidate, {"id", "size"}), fields({{"label", QStringLiteral("pip")}, {"path", pip},
                                                          {"risk", QStringLiteral("safe")}, {"isSelected", true}}));
    const QStringList lines = cli.run(words("safe-cleanup list")).outText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 5); // header, the cache, a blank line, status, the end
    QVERIFY2(lines.at(1).contains(QLatin1String("pip")) && lines.at(1).endsWith(pip), qPrintable(lines.at(1)));
    QCOMPARE(lines.at(3), found);

    QCOMPARE(cli.runJson(words("safe-cleanup clean --json")),
             fields({{"deleted", 1}, {"failed", 0}, {"freedBytes", size}, {"errors", QJsonArray()}, {"candidates", QJsonArray()},
                     {"status", resultLine(QStringLiteral("Удалено: "), 1, 0, size)}}));
    QVERIFY(!QFileInfo::exists(pip));
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
}

void tst_CliFileCommands::sortDownloads()
{
    CliHarness cli;
    cli.home().makeFile(QStringLiteral("Downloads/Отчёт за май.PDF"), 3000);
    cli.home().makeFile(QStringLiteral("Downloads/фильм.mkv"), 5000);
    cli.home().makeFile(QStringLiteral("Downloads/Проект/план.txt"), 100);
    QCOMPARE(cli.runJson(words("sort-downloads --json")),
             fields({{"moved", 2}, {"skipped", 1}, {"failed", 0}, {"errors", QJsonArray()},
                     {"byBucket", fields({{"Documents", 1}, {"Video", 1}})},
                     {"status", QStringLiteral("Разложено 2 файла в Downloads/_Sorted/ (Documents: 1, Video: 1). "
                                               "Пропущено папок: 1, ошибок: 0")}}));

    // A file where the sorted folder should be: the file that cannot move
    // fails the run, its error on standard error, the status on standard output.
    QVERIFY(ScratchDir::removeTree(native(cli.home().filePath(QStringLiteral("Downloads/_Sorted")))));
    cli.home().makeFile(QStringLiteral("Downloads/_Sorted"), 10);
    cli.home().makeFile(QStringLiteral("Downloads/смета.xlsx"), 300);
    const CliRun run = cli.run(words("sort-downloads"));
    QCOMPARE(run.exitCode, 1);
    const QString error = QStringLiteral("смета.xlsx: ") + QString::fromLocal8Bit(std::strerror(ENOTDIR));
    QVERIFY2(run.errText().contains(QStringLiteral("Сортировка Downloads…")), run.describe());
    QVERIFY2(run.errText().endsWith(QStringLiteral("brisko: ") + error + QLatin1Char('\n')), run.describe());
    QCOMPARE(run.outText(), QStringLiteral("Разложено 0 файлов в Downloads/_Sorted/ (). Пропущено папок: 1, ошибок: 1\n"));
}

void tst_CliFileCommands::cleanArchiveCreateListAndRestore()
{
    CliHarness cli;
    const QString archive = cli.scratchPath(QStringLiteral("archive"));
    QVERIFY(cli.setSetting(QStringLiteral("archivePath=") + archive));
    QCOMPARE(cli.run(words("archive list")).outText(), QStringLiteral("Архивов нет в ") + archive + QStringLiteral("/CleanArchives\n"));
    CliRun run = cli.run(words("archive restore Brisko_nope"));
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.errText(), QStringLiteral("brisko: архив «Brisko_nope» не найден в ") + archive
                                + QStringLiteral("/CleanArchives\n"));

    cli.home().makeFile(QStringLiteral("Documents/Отчёт за май.pdf"), 300000);
    cli.home().makeFile(QStringLiteral("Desktop/notes.txt"), 1000);
    const QJsonObject created = cli.runJson(words("archive create essential --json"));
    const QString id = created.value(QLatin1String("id")).toString();
    const QJsonObject manifest = created.value(QLatin1String("manifest")).toObject();
    QCOMPARE(without(created, {"manifest", "status"}),
             fields({{"id", id}, {"path", archive + QStringLiteral("/CleanArchives/") + id}, {"copiedFiles", 2},
                     {"errors", QJsonArray()}}));
    QCOMPARE(cli.runJson(words("archive list --json")),
             fields({{"archives", QJsonArray{fields({{"id", id}, {"path", created.value(QLatin1String("path"))},
                                                     {"manifest", manifest}})}}}));
    const QStringList table = cli.run(words("archive list")).outText().split(QLatin1Char('\n'));
    QCOMPARE(table.size(), 3);
    QVERIFY2(table.at(1).startsWith(id) && table.at(1).contains(QStringLiteral("Документы и рабочий стол"))
                 && table.at(1).contains(QStringLiteral(" (tar.zst)")),
             qPrintable(table.at(1)));

    // Documents is gone from the home, the Desktop is still there.
    QVERIFY(ScratchDir::removeTree(native(cli.home().filePath(QStringLiteral("Documents")))));
    QCOMPARE(cli.runJson({QStringLiteral("archive"), QStringLiteral("restore"), id, QStringLiteral("--json")}),
             fields({{"id", id}, {"restored", 1}, {"skipped", 1}, {"failed", 0}, {"errors", QJsonArray()},
                     {"status", QStringLiteral("Восстановлено: 1, пропущено (уже есть): 1, ошибок: 0")}}));
}

// Every field of every row and of the result, names Cyrillic or not UTF-8 at all.
void tst_CliFileCommands::jsonRowsOfAHostileHome()
{
    CliHarness cli;
    TempHome& home = cli.home();
    const QDateTime modified = cli.clock().now().addDays(-3);
    const QString report = home.makeFile(QStringLiteral("Downloads/Отчёт за май.pdf"), 40000, modified);
    const QString notes = home.makeFile(QStringLiteral("Downloads/notes.txt"), 12000, modified);
    const FilePath raw = home.makeFileNative(QByteArray("Downloads/\xff\xfe-old-\xe9.bin"), 100);
    const timespec stamps[2] = {{modified.toSecsSinceEpoch(), 0}, {modified.toSecsSinceEpoch(), 0}};
    QCOMPARE(::utimensat(AT_FDCWD, raw.native().constData(), stamps, 0), 0);
    home.makeFile(QStringLiteral("Downloads/Проекты/inside.bin"), 60000);

    // The modification date, relative to now; a name that is not UTF-8 comes
    // out with replacement characters.
    const QString threeDaysAgo = RelativeDateFormatter::format(modified, cli.clock().now());
    const auto row = [&](const QString& name, const QString& path, qint64 size) {
        return fields({{"name", name}, {"path", path}, {"size", size}, {"isDirectory", false}, {"isSelected", true},
                       {"detail", threeDaysAgo}, {"category", QStringLiteral("downloadsInbox")}});
    };
    const QJsonArray items{row(QStringLiteral("Отчёт за май.pdf"), report, spaceOnDisk(report)),
                           row(QStringLiteral("notes.txt"), notes, spaceOnDisk(notes)),
                           row(QString::fromUtf8("\xff\xfe-old-\xe9.bin"), QString::fromUtf8(raw.native()),
                               ScratchDir::allocatedSize(raw.native()))};
    const qint64 total = spaceOnDisk(report) + spaceOnDisk(notes) + ScratchDir::allocatedSize(raw.native());
    QCOMPARE(cli.runJson(words("scan downloadsInbox --json")),
             fields({{"category", QStringLiteral("downloadsInbox")}, {"items", items}, {"totalBytes", total},
                     {"status", QStringLiteral("Downloads (файлы в корне): найдено 3 элемента (") + ByteCountFormatter::format(total)
                                    + QLatin1Char(')')}}));
}

void tst_CliFileCommands::readableOutputWithProgressLines_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::newRow("a pipe: one plain line per report") << false;
    QTest::newRow("a terminal: the same line redrawn") << true;
}

void tst_CliFileCommands::readableOutputWithProgressLines()
{
    QFETCH(bool, terminal);
    CliHarness cli;
    const QString report = cli.home().makeFile(QStringLiteral("Downloads/Отчёт.pdf"), 40000);
    const QString notes = cli.home().makeFile(QStringLiteral("Downloads/notes.txt"), 100);
    const QStringList arguments{QStringLiteral("scan"), QStringLiteral("downloadsInbox")};
    const CliRun run = terminal ? cli.runWithTerminalStderr(arguments) : cli.run(arguments);
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.outText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 6); // header, two rows, a blank line, status, the end
    QCOMPARE(lines.at(0).split(QLatin1Char(' '), Qt::SkipEmptyParts), words("Выбор Размер Имя Детали"));
    QCOMPARE(lines.at(1).split(QStringLiteral("  "), Qt::SkipEmptyParts).size(), 4);
    QVERIFY2(lines.at(1).startsWith(QLatin1String("[x]")) && lines.at(1).contains(QStringLiteral("Отчёт.pdf"))
                 && lines.at(1).contains(ByteCountFormatter::format(spaceOnDisk(report))),
             qPrintable(lines.at(1)));
    QVERIFY2(lines.at(2).contains(QLatin1String("notes.txt")) && lines.at(2).contains(ByteCountFormatter::format(spaceOnDisk(notes))),
             qPrintable(lines.at(2)));
    QCOMPARE(lines.at(3), QString());
    QCOMPARE(lines.at(4), QStringLiteral("Downloads (файлы в корне): найдено 2 элемента (")
                              + ByteCountFormatter::format(spaceOnDisk(report) + spaceOnDisk(notes)) + QLatin1Char(')'));

    const QStringList progress =
        run.errText().remove(QStringLiteral("\x1b[K")).split(QRegularExpression(QStringLiteral("[\r\n]")), Qt::SkipEmptyParts);
    QVERIFY2(progress.size() >= 2 && progress.first().contains(QStringLiteral("Подготовка…")), run.err.constData());
    QVERIFY2(progress.last().contains(QLatin1String("100%")) && progress.last().contains(QStringLiteral("Готово"))
                 && progress.last().endsWith(QLatin1Char('2')),
             run.err.constData());
    QVERIFY(run.err.endsWith('\n'));
    // On a terminal every report rewrites the same line; only the end moves to a new one.
    QCOMPARE(run.err.startsWith('\r'), terminal);
    QCOMPARE(run.err.count("\x1b[K") >= 2, terminal);
    QCOMPARE(run.err.count('\n') == 1, terminal);
    QVERIFY2(terminal || (!run.err.contains('\r') && !run.err.contains('\x1b')), run.err.constData());
}

void tst_CliFileCommands::ctrlCStopsTheScanAndASecondOneEndsTheProgram_data()
{
    QTest::addColumn<int>("interrupts");
    QTest::newRow("once: the walk stops, the program ends cleanly") << 1;
    QTest::newRow("twice: the program ends at once") << 2;
}

void tst_CliFileCommands::ctrlCStopsTheScanAndASecondOneEndsTheProgram()
{
    QFETCH(int, interrupts);
    CliSandbox sandbox;
    QVERIFY(sandbox.isValid());
    // Far more folders than the main thread needs turns of its event loop
    // to hear the first Ctrl+C.
    for (int i = 0; i < 1000; ++i) {
        sandbox.home().makeDir(QStringLiteral("Downloads/папка %1/вложенная %2").arg(i / 100).arg(i % 100));
    }

    // Standard error is a pipe the test has filled: the program's first
    // progress line ("Подготовка…", written before the walk starts) holds
    // it until the test reads, so nothing can end before the signals are in.
    int err[2];
    QCOMPARE(::pipe2(err, O_CLOEXEC), 0);
    const auto closeErr = qScopeGuard([&] {
        ::close(err[0]);
        ::close(err[1]);
    });
    ::fcntl(err[1], F_SETPIPE_SZ, 4096);
    ::fcntl(err[1], F_SETFL, O_NONBLOCK);
    while (::write(err[1], "#", 1) > 0) {
    }
    ::fcntl(err[1], F_SETFL, 0);
    const QByteArray outPath = QFile::encodeName(sandbox.scratchPath(QStringLiteral("out.txt")));

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const QByteArray program = QFile::encodeName(CliSandbox::program());
    QByteArrayList arguments{program, "scan", "largeFolders"};
    QByteArrayList environment;
    for (const QString& variable : sandbox.environment().toStringList()) {
        environment.append(variable.toLocal8Bit());
    }
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.constData(), &actions, nullptr, nullTerminated(arguments).data(),
                                      nullTerminated(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    QCOMPARE(spawned, 0);
    const auto reap = qScopeGuard([&] {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    });

    // Ready when the program catches SIGINT: the walk has not begun.
    QTRY_VERIFY_WITH_TIMEOUT(statusMaskHas(pid, "SigCgt", SIGINT), 60000);
    for (int i = 0; i < interrupts; ++i) {
        QCOMPARE(::kill(pid, SIGINT), 0);
        // Taken by a handler before the next one is sent, so that two are two.
        QTRY_VERIFY_WITH_TIMEOUT(!statusMaskHas(pid, "ShdPnd", SIGINT) && !statusMaskHas(pid, "SigPnd", SIGINT), 60000);
    }

    ::close(err[1]);
    err[1] = -1;
    QByteArray errText;
    char buffer[4096];
    for (ssize_t n; (n = ::read(err[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0) {
            errText.append(buffer, n);
        } else if (errno != EINTR) {
            break;
        }
    }
    int status = 0;
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    pid = 0;
    errText.replace('#', "");
    if (interrupts == 2) {
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT, errText.constData());
        return;
    }
    QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 130, errText.constData());
    QVERIFY2(QString::fromUtf8(errText).contains(QStringLiteral("Останавливаю после текущего элемента")), errText.constData());
    QCOMPARE(QString::fromUtf8(ScratchDir::readFile(outPath)), QStringLiteral("Большие папки: сканирование остановлено\n"));
}

BRISKO_TEST(tst_CliFileCommands)
#include "tst_CliFileCommands.moc"
