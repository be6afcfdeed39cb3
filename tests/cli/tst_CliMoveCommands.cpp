#include "BriskoTest.h"
#include "OperationSandbox.h"
#include "RepresentativeTree.h"
#include "ScratchDir.h"
#include "TreeInventory.h"

#include "base/ByteCountFormatter.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>

#include <cstring>

namespace {

qint64 allocatedSize(const QByteArray& nativePath)
{
    struct stat info;
    if (::lstat(nativePath.constData(), &info) != 0) {
        return -1;
    }
    return qint64(info.st_blocks) * 512;
}

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

// A record's path as the bytes on disk: a name that is not UTF-8 is kept
// exactly under "<key>Native".
QByteArray recordPath(const QJsonObject& record, const QString& key)
{
    const QJsonValue exact = record.value(key + QStringLiteral("Native"));
    if (exact.isString()) {
        return QByteArray::fromBase64(exact.toString().toLatin1());
    }
    return record.value(key).toString().toUtf8();
}

QString moveStatus(qint64 moved, qint64 failed, qint64 freed)
{
    return QStringLiteral("Перенесено: %1, ошибок: %2, освобождено ").arg(moved).arg(failed)
        + ByteCountFormatter::format(freed);
}

QString storedArchivePath(const CliSandbox& sandbox)
{
    const std::optional<QByteArray> stored = sandbox.storedSettings();
    if (!stored) {
        return {};
    }
    return QJsonDocument::fromJson(*stored).object().value(QLatin1String("archivePath")).toString();
}

QStringList entryNames(const QByteArray& folder)
{
    return QDir(QFile::decodeName(folder))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

class tst_CliMoveCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void movesScannerSelectionAndUndoRestoresEveryByte();
    void movesAFolderTreeAcrossVolumesAndBack();
    void onlyMovesTheNamedRows();
    void unknownRowNameChangesNothing();
    void refusalsAndFailuresExitWithOne();
    void archiveFolderTakesTheArgument();
    void anotherWriterIsWaitedForThenRefused();
    void anUnwritableMoveLogFailsAndTheNextStartRecordsTheBatch();
    void badArgumentsAreUsageErrors_data();
    void badArgumentsAreUsageErrors();
};

void tst_CliMoveCommands::movesScannerSelectionAndUndoRestoresEveryByte()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    TempHome& home = sandbox.home();
    const QString report = sandbox.makeHomeFile(QStringLiteral("Downloads/Отчёт за май.pdf"), 40000);
    const QString notes = sandbox.makeHomeFile(QStringLiteral("Downloads/notes.txt"), 12000);
    const FilePath raw = home.makeFileNative(QByteArray("Downloads/\xff\xfe-old-\xe9.bin"), 3000);
    sandbox.makeHomeFile(QStringLiteral("Downloads/Папка/внутри.bin"), 1000);

    // The archive already holds a notes.txt: the moved one must get a name of its own.
    const QString archive = sandbox.scratchPath(QStringLiteral("Архив"));
    QVERIFY(QDir().mkpath(archive));
    QFile older(archive + QStringLiteral("/notes.txt"));
    QVERIFY(older.open(QIODevice::WriteOnly) && older.write("older notes") == 11);
    older.close();
    QVERIFY(sandbox.setSetting(QStringLiteral("archivePath=") + archive));

    const QByteArray downloads = native(home.filePath(QStringLiteral("Downloads")));
    const TreeInventory downloadsBefore = TreeInventory::take(downloads);
    const TreeInventory archiveBefore = TreeInventory::take(native(archive));
    const qint64 freed = allocatedSize(native(report)) + allocatedSize(native(notes)) + allocatedSize(raw.native());

    const QJsonObject moved = sandbox.runJson({QStringLiteral("move"), QStringLiteral("downloadsInbox"),
                                               QStringLiteral("--json")});
    QCOMPARE(moved.value(QLatin1String("moved")).toInteger(-1), 3);
    QCOMPARE(moved.value(QLatin1String("failed")).toInteger(-1), 0);
    QCOMPARE(moved.value(QLatin1String("errors")).toArray(), QJsonArray());
    QCOMPARE(moved.value(QLatin1String("freedBytes")).toInteger(-1), freed);
    QCOMPARE(moved.value(QLatin1String("status")).toString(), moveStatus(3, 0, freed));
    QCOMPARE(moved.value(QLatin1String("category")).toString(), QStringLiteral("downloadsInbox"));
    QCOMPARE(moved.value(QLatin1String("archivePath")).toString(), archive);
    QCOMPARE(moved.value(QLatin1String("undoAvailable")), QJsonValue(true));

    // Every record points from the old place to a complete copy in the archive.
    const QJsonArray records = moved.value(QLatin1String("records")).toArray();
    QCOMPARE(records.size(), 3);
    const TreeInventory archiveAfter = TreeInventory::take(native(archive));
    QSet<QByteArray> originals;
    for (const QJsonValue& value : records) {
        const QJsonObject record = value.toObject();
        const QByteArray original = recordPath(record, QStringLiteral("originalPath"));
        const QByteArray destination = recordPath(record, QStringLiteral("destinationPath"));
        originals.insert(original);
        QVERIFY2(original.startsWith(downloads + '/'), original.constData());
        QVERIFY2(destination.startsWith(native(archive) + '/'), destination.constData());
        QVERIFY2(!ScratchDir::exists(original), original.constData());
        const QByteArray relativeBefore = original.mid(downloads.size() + 1);
        const QByteArray relativeAfter = destination.mid(native(archive).size() + 1);
        QVERIFY(archiveAfter.entries().contains(relativeAfter));
        QVERIFY2(archiveAfter.entries().value(relativeAfter).sameAs(downloadsBefore.entries().value(relativeBefore)),
                 relativeAfter.constData());
        QCOMPARE(record.value(QLatin1String("size")).toInteger(-1), allocatedSize(destination));
        QVERIFY(record.value(QLatin1String("movedAt")).toDouble() > 0);
        QVERIFY(!QUuid::fromString(record.value(QLatin1String("id")).toString()).isNull());
        if (relativeBefore == "notes.txt") {
            QCOMPARE(relativeAfter, QByteArray("notes__Downloads.txt"));
        }
    }
    QCOMPARE(originals, (QSet<QByteArray>{native(report), native(notes), raw.native()}));
    QCOMPARE(ScratchDir::readFile(native(archive) + "/notes.txt"), QByteArray("older notes"));
    QVERIFY(ScratchDir::exists(downloads + "/Папка/внутри.bin"));

    const QJsonObject undone = sandbox.runJson({QStringLiteral("undo"), QStringLiteral("--json")});
    QCOMPARE(undone.value(QLatin1String("moved")).toInteger(-1), 3);
    QCOMPARE(undone.value(QLatin1String("failed")).toInteger(-1), 0);
    QCOMPARE(undone.value(QLatin1String("freedBytes")).toInteger(-1), freed);
    QCOMPARE(undone.value(QLatin1String("records")).toArray(), QJsonArray());
    QCOMPARE(undone.value(QLatin1String("undoAvailable")), QJsonValue(false));
    QCOMPARE(undone.value(QLatin1String("status")).toString(), QStringLiteral("Возвращено: 3, ошибок: 0"));

    const QStringList downloadsChanges = TreeInventory::take(downloads).differencesFrom(downloadsBefore);
    QVERIFY2(downloadsChanges.isEmpty(), qPrintable(downloadsChanges.join(QLatin1Char('\n'))));
    const QStringList archiveChanges = TreeInventory::take(native(archive)).differencesFrom(archiveBefore);
    QVERIFY2(archiveChanges.isEmpty(), qPrintable(archiveChanges.join(QLatin1Char('\n'))));

    // The batch is used up.
    const CliRun again = sandbox.run({QStringLiteral("undo")});
    QVERIFY2(again.finished, again.describe());
    QCOMPARE(again.exitCode, 1);
    QVERIFY2(again.out.isEmpty(), again.describe());
    QVERIFY2(again.errText().contains(QStringLiteral("Нечего отменять")), again.describe());
}

void tst_CliMoveCommands::movesAFolderTreeAcrossVolumesAndBack()
{
    if (!ScratchDir::exists("/dev/shm")) {
        QSKIP("no /dev/shm on this machine: no second file system to move across");
    }
    if (ScratchDir::sameFileSystem("/dev/shm", QFile::encodeName(QDir::tempPath()))) {
        QSKIP("/dev/shm is on the same file system as the temporary folder: a move there is a rename");
    }
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    ScratchDir otherVolume("/dev/shm");
    QVERIFY(otherVolume.isValid());
    const QByteArray archive = otherVolume.makeDirectory("Архив");

    const CliRun chosen = sandbox.run({QStringLiteral("archive-folder"), QFile::decodeName(archive)});
    QVERIFY2(chosen.finished && chosen.exitCode == 0, chosen.describe());

    const QByteArray outside = native(sandbox.scratchPath(QStringLiteral("вне дома.txt")));
    QFile outsideFile(QFile::decodeName(outside));
    QVERIFY(outsideFile.open(QIODevice::WriteOnly) && outsideFile.write("outside") == 7);
    outsideFile.close();
    const QByteArray project = native(sandbox.home().filePath(QStringLiteral("Проект")));
    QVERIFY(RepresentativeTree::create(project, outside));
    QVERIFY(sandbox.setSetting(QStringLiteral("largeFolderThresholdGB=0")));
    const TreeInventory before = TreeInventory::take(project);
    QVERIFY(before.fileCount() >= RepresentativeTree::files().size());

    const QJsonObject moved = sandbox.runJson({QStringLiteral("move"), QStringLiteral("largeFolders"),
                                               QStringLiteral("--only"), QStringLiteral("Проект"),
                                               QStringLiteral("--json")});
    QCOMPARE(moved.value(QLatin1String("moved")).toInteger(-1), 1);
    QCOMPARE(moved.value(QLatin1String("failed")).toInteger(-1), 0);
    const QJsonArray records = moved.value(QLatin1String("records")).toArray();
    QCOMPARE(records.size(), 1);
    QCOMPARE(recordPath(records.at(0).toObject(), QStringLiteral("destinationPath")), archive + "/Проект");
    QVERIFY(!ScratchDir::exists(project));

    // Hidden files, the link out, the name that is not UTF-8, permissions and
    // times: everything arrived, and nothing else (no partial copy) is left.
    const QStringList arrived = TreeInventory::take(archive + "/Проект").differencesFrom(before);
    QVERIFY2(arrived.isEmpty(), qPrintable(arrived.join(QLatin1Char('\n'))));
    QCOMPARE(entryNames(archive), QStringList{QStringLiteral("Проект")});
    QCOMPARE(ScratchDir::readFile(outside), QByteArray("outside"));

    const QJsonObject undone = sandbox.runJson({QStringLiteral("undo"), QStringLiteral("--json")});
    QCOMPARE(undone.value(QLatin1String("moved")).toInteger(-1), 1);
    QCOMPARE(undone.value(QLatin1String("failed")).toInteger(-1), 0);
    const QStringList back = TreeInventory::take(project).differencesFrom(before);
    QVERIFY2(back.isEmpty(), qPrintable(back.join(QLatin1Char('\n'))));
    QCOMPARE(entryNames(archive), QStringList());
}

void tst_CliMoveCommands::onlyMovesTheNamedRows()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QString first = sandbox.makeHomeFile(QStringLiteral("Downloads/первый.txt"), 5000);
    const QString kept = sandbox.makeHomeFile(QStringLiteral("Downloads/второй.txt"), 6000);
    const QString dashed = sandbox.makeHomeFile(QStringLiteral("Downloads/-dash.txt"), 7000);
    // Named as brisko scan shows it: the bytes that are not UTF-8 as replacement characters.
    const FilePath raw = sandbox.home().makeFileNative(QByteArray("Downloads/\xff\xfe-счёт.txt"), 8000);
    const QString archive = sandbox.scratchPath(QStringLiteral("archive"));
    QVERIFY(sandbox.setSetting(QStringLiteral("archivePath=") + archive));

    // Readable output: the scan's status and the progress on standard
    // error, one line per moved item and the status line on standard output.
    const CliRun run = sandbox.run({QStringLiteral("move"), QStringLiteral("downloadsInbox"), QStringLiteral("--only"),
                                    QStringLiteral("первый.txt"), raw.fileName(), QStringLiteral("--"),
                                    QStringLiteral("-dash.txt")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    const QByteArray rawMoved = native(archive) + '/' + raw.fileNameNative();
    const qint64 freed = allocatedSize(native(archive + QStringLiteral("/первый.txt")))
        + allocatedSize(native(archive + QStringLiteral("/-dash.txt"))) + allocatedSize(rawMoved);
    const QStringList lines = run.outText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines.contains(first + QStringLiteral(" → ") + archive + QStringLiteral("/первый.txt")), run.describe());
    QVERIFY2(lines.contains(dashed + QStringLiteral(" → ") + archive + QStringLiteral("/-dash.txt")), run.describe());
    QCOMPARE(lines.last(), moveStatus(3, 0, freed));
    QVERIFY2(run.errText().contains(QStringLiteral("Downloads (файлы в корне): найдено 4 элемента")), run.describe());
    QVERIFY2(run.errText().contains(QStringLiteral("Перенос 3/3…")), run.describe());

    QVERIFY(QFile::exists(kept));
    QVERIFY(!QFile::exists(first) && !QFile::exists(dashed) && !ScratchDir::exists(raw.native()));
    QVERIFY(ScratchDir::exists(rawMoved));
    QCOMPARE(ScratchDir::readFile(native(archive + QStringLiteral("/первый.txt"))),
             OperationSandbox::contentFor(QStringLiteral("Downloads/первый.txt"), 5000));
}

void tst_CliMoveCommands::unknownRowNameChangesNothing()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    sandbox.makeHomeFile(QStringLiteral("Downloads/есть.txt"), 5000);
    const QString archive = sandbox.scratchPath(QStringLiteral("archive"));
    QVERIFY(sandbox.setSetting(QStringLiteral("archivePath=") + archive));
    const QByteArray home = native(sandbox.home().path());
    const TreeInventory before = TreeInventory::take(home);

    for (const QString& command : {QStringLiteral("move"), QStringLiteral("trash")}) {
        const CliRun run = sandbox.run({command, QStringLiteral("downloadsInbox"), QStringLiteral("--only"),
                                        QStringLiteral("есть.txt"), QStringLiteral("нет.txt"),
                                        QStringLiteral("--json")});
        QVERIFY2(run.finished, run.describe());
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.out.isEmpty(), run.describe());
        QVERIFY2(run.errText().contains(QStringLiteral("«нет.txt»")), run.describe());
        QVERIFY2(!run.errText().contains(QStringLiteral("«есть.txt»")), run.describe());
        QVERIFY2(run.errText().contains(QStringLiteral("brisko ") + command + QLatin1Char(' ')), run.describe());
    }
    const QStringList changes = TreeInventory::take(home).differencesFrom(before);
    QVERIFY2(changes.isEmpty(), qPrintable(changes.join(QLatin1Char('\n'))));
    QVERIFY(!QFile::exists(archive));
    QVERIFY(!QFile::exists(sandbox.dataHome()));
}

void tst_CliMoveCommands::refusalsAndFailuresExitWithOne()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    TempHome& home = sandbox.home();

    // Nothing found, nothing selected.
    CliRun run = sandbox.run({QStringLiteral("move"), QStringLiteral("downloadsInbox"), QStringLiteral("--json")});
    QVERIFY2(run.finished && run.exitCode == 1, run.describe());
    QVERIFY2(run.out.isEmpty(), run.describe());
    QCOMPARE(run.errText(), QStringLiteral("brisko: Ничего не выбрано\n"));

    // Caches are never moved (6 MiB: service junk starts above 5 MiB).
    const QString cache = home.makeFile(QStringLiteral(".cache/com.example.tool/blob"), 6 * 1024 * 1024);
    run = sandbox.run({QStringLiteral("move"), QStringLiteral("systemJunk")});
    QVERIFY2(run.finished && run.exitCode == 1, run.describe());
    QVERIFY2(run.out.isEmpty(), run.describe());
    QVERIFY2(run.errText().contains(
                 QStringLiteral("brisko: Выбранные элементы нельзя переносить (другая категория или только просмотр)")),
             run.describe());
    QVERIFY(QFile::exists(cache));

    // An archive folder that cannot be made fails every item, which stays.
    const QString file = sandbox.scratchPath(QStringLiteral("просто файл"));
    QFile blocker(file);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(sandbox.setSetting(QStringLiteral("archivePath=") + file + QStringLiteral("/Архив")));
    const QString item = sandbox.makeHomeFile(QStringLiteral("Downloads/a.txt"), 100);
    const QString expectedError =
        QStringLiteral("Не удалось создать папку архива: ") + QString::fromLocal8Bit(std::strerror(ENOTDIR));

    const QJsonObject failed = sandbox.runJson({QStringLiteral("move"), QStringLiteral("downloadsInbox"),
                                                QStringLiteral("--json")}, 1);
    QCOMPARE(failed.value(QLatin1String("moved")).toInteger(-1), 0);
    QCOMPARE(failed.value(QLatin1String("failed")).toInteger(-1), 1);
    QCOMPARE(failed.value(QLatin1String("errors")).toArray(), QJsonArray{expectedError});
    QCOMPARE(failed.value(QLatin1String("records")).toArray(), QJsonArray());
    QCOMPARE(failed.value(QLatin1String("status")).toString(), moveStatus(0, 1, 0));
    QCOMPARE(failed.value(QLatin1String("undoAvailable")), QJsonValue(false));
    QVERIFY(QFile::exists(item));

    run = sandbox.run({QStringLiteral("move"), QStringLiteral("downloadsInbox")});
    QVERIFY2(run.finished && run.exitCode == 1, run.describe());
    QVERIFY2(run.errText().contains(QStringLiteral("brisko: ") + expectedError + QLatin1Char('\n')), run.describe());
    QCOMPARE(run.outText(), moveStatus(0, 1, 0) + QLatin1Char('\n'));
    QVERIFY(QFile::exists(item));

    // No move ever succeeded: nothing to undo.
    run = sandbox.run({QStringLiteral("undo"), QStringLiteral("--json")});
    QVERIFY2(run.finished && run.exitCode == 1, run.describe());
    QVERIFY2(run.out.isEmpty(), run.describe());
    QCOMPARE(run.errText(), QStringLiteral("brisko: Нечего отменять\n"));
}

void tst_CliMoveCommands::anotherWriterIsWaitedForThenRefused()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QString item = sandbox.makeHomeFile(QStringLiteral("Downloads/a.txt"), 100);
    // Another process (the window, a second brisko) holds the writer lock.
    QProcess holder;
    holder.start(QStringLiteral(MOVE_CRASH_HELPER), {QStringLiteral("lock"), sandbox.cli().defaultsFile()});
    QVERIFY(holder.waitForReadyRead(60000));
    QCOMPARE(holder.readLine(), QByteArray("locked\n"));

    CliRun run = sandbox.run({QStringLiteral("move"), QStringLiteral("downloadsInbox")});
    QVERIFY2(run.finished && run.exitCode == 1, run.describe());
    QVERIFY2(run.errText().contains(QStringLiteral("brisko: Файлы сейчас меняет другая копия Brisko Vella")),
             run.describe());
    QVERIFY(QFile::exists(item));

    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(60000));
    run = sandbox.run({QStringLiteral("move"), QStringLiteral("downloadsInbox")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    QVERIFY(!QFile::exists(item));
}

void tst_CliMoveCommands::anUnwritableMoveLogFailsAndTheNextStartRecordsTheBatch()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QString first = sandbox.makeHomeFile(QStringLiteral("Downloads/a.txt"), 100);
    const QString second = sandbox.makeHomeFile(QStringLiteral("Downloads/b.txt"), 200);
    // A store that cannot be written (here: a folder in its place).
    const QString store = sandbox.cli().defaultsFile();
    QVERIFY(QDir().mkpath(store));

    CliRun run = sandbox.run({QStringLiteral("move"), QStringLiteral("downloadsInbox")});
    QVERIFY2(run.finished && run.exitCode == 1, run.describe());
    QVERIFY2(run.errText().contains(QStringLiteral("Не удалось сохранить журнал переноса в ") + store), run.describe());
    // One item moved and stays journaled; the batch stopped before the other.
    QCOMPARE(int(QFile::exists(first)) + int(QFile::exists(second)), 1);
    run = sandbox.run({QStringLiteral("undo")});
    QVERIFY2(run.finished && run.exitCode == 1, run.describe());
    QVERIFY2(run.errText().contains(QStringLiteral("Нечего отменять")), run.describe());

    // Writable again: the next start stores the batch and says so.
    QVERIFY(QDir(store).removeRecursively());
    const QJsonObject undone = sandbox.runJson({QStringLiteral("undo"), QStringLiteral("--json")});
    QCOMPARE(undone.value(QLatin1String("moved")).toInteger(-1), 1);
    QCOMPARE(undone.value(QLatin1String("recovery")).toObject().value(QLatin1String("recorded")).toInteger(-1), 1);
    QVERIFY(QFile::exists(first) && QFile::exists(second));
}

void tst_CliMoveCommands::archiveFolderTakesTheArgument()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QString parent = sandbox.scratchPath(QString());
    const QString folder = sandbox.scratchPath(QStringLiteral("Архив на диске"));
    QVERIFY(QDir().mkpath(folder));

    // A relative path is taken from the working folder.
    CliRun run = sandbox.run({QStringLiteral("archive-folder"), QStringLiteral("./Архив на диске/")}, parent);
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    QCOMPARE(run.outText(), QStringLiteral("Папка архива: ") + folder + QLatin1Char('\n'));
    QCOMPARE(storedArchivePath(sandbox.cli()), folder);

    // What a dialog would not offer is refused and changes nothing.
    const QString file = sandbox.scratchPath(QStringLiteral("файл"));
    QFile plain(file);
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    for (const QString& wrong : {file, sandbox.scratchPath(QStringLiteral("нет такой"))}) {
        run = sandbox.run({QStringLiteral("archive-folder"), wrong});
        QVERIFY2(run.finished && run.exitCode == 1, run.describe());
        QVERIFY2(run.out.isEmpty(), run.describe());
        QVERIFY2(run.errText().contains(QStringLiteral("«") + wrong + QStringLiteral("» — не папка")), run.describe());
        QCOMPARE(storedArchivePath(sandbox.cli()), folder);
    }
}

void tst_CliMoveCommands::badArgumentsAreUsageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentioned");

    QTest::newRow("move without category") << QStringList{QStringLiteral("move")} << QStringLiteral("brisko move");
    QTest::newRow("move unknown category") << QStringList{QStringLiteral("move"), QStringLiteral("downloads")}
                                           << QStringLiteral("«downloads»");
    QTest::newRow("move name without --only")
        << QStringList{QStringLiteral("move"), QStringLiteral("downloadsInbox"), QStringLiteral("a.txt")}
        << QStringLiteral("a.txt");
    QTest::newRow("move --only without names")
        << QStringList{QStringLiteral("move"), QStringLiteral("downloadsInbox"), QStringLiteral("--only")}
        << QStringLiteral("--only");
    QTest::newRow("move unknown option")
        << QStringList{QStringLiteral("move"), QStringLiteral("downloadsInbox"), QStringLiteral("--all")}
        << QStringLiteral("--all");
    QTest::newRow("undo with argument") << QStringList{QStringLiteral("undo"), QStringLiteral("last")}
                                        << QStringLiteral("brisko undo");
    QTest::newRow("undo unknown option") << QStringList{QStringLiteral("undo"), QStringLiteral("--force")}
                                         << QStringLiteral("--force");
    QTest::newRow("archive-folder without path") << QStringList{QStringLiteral("archive-folder")}
                                                 << QStringLiteral("brisko archive-folder");
    QTest::newRow("archive-folder two paths")
        << QStringList{QStringLiteral("archive-folder"), QStringLiteral("/tmp"), QStringLiteral("/var")}
        << QStringLiteral("brisko archive-folder");
}

void tst_CliMoveCommands::badArgumentsAreUsageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentioned);
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QString item = sandbox.makeHomeFile(QStringLiteral("Downloads/a.txt"), 100);
    const QString archive = sandbox.scratchPath(QStringLiteral("archive"));
    QVERIFY(sandbox.setSetting(QStringLiteral("archivePath=") + archive));
    const std::optional<QByteArray> settingsBefore = sandbox.cli().storedSettings();

    const CliRun run = sandbox.run(arguments);
    QVERIFY2(run.finished, run.describe());
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.out.isEmpty(), run.describe());
    QVERIFY2(run.errText().contains(mentioned), run.describe());
    QVERIFY2(run.errText().contains(QStringLiteral("Использование: brisko ")), run.describe());
    QVERIFY(QFile::exists(item));
    QVERIFY(!QFile::exists(archive));
    QCOMPARE(sandbox.cli().storedSettings(), settingsBefore);
}

BRISKO_TEST(tst_CliMoveCommands)
#include "tst_CliMoveCommands.moc"
