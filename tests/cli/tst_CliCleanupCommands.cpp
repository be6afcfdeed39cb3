#include "BriskoTest.h"
#include "OperationSandbox.h"
#include "ScratchDir.h"
#include "TreeInventory.h"

#include "base/ByteCountFormatter.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

#include <sys/stat.h>

namespace {

constexpr qint64 mebibyte = 1024 * 1024;
// Above the 5 MiB from which a cache counts as service junk.
constexpr qint64 junkCacheSize = 6 * mebibyte;

qint64 allocatedSize(const QString& path)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        return -1;
    }
    return qint64(info.st_blocks) * 512;
}

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

QString resultLine(const QString& head, qint64 done, qint64 failed, qint64 freed)
{
    return head + QString::number(done) + QStringLiteral(", ошибок: ") + QString::number(failed)
        + QStringLiteral(", освобождено ") + ByteCountFormatter::format(freed);
}

// The Path= value of a Trash record, decoded.
QByteArray trashedPath(const QString& infoFile, bool* encoded)
{
    QFile file(infoFile);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("Path=")) {
            const QByteArray value = line.mid(5);
            // Only ASCII may stand in the record; everything else is %XX.
            *encoded = std::all_of(value.cbegin(), value.cend(), [](char c) { return uchar(c) < 0x80; });
            return QByteArray::fromPercentEncoding(value);
        }
    }
    return {};
}

// A file already in the sandbox's Trash.
QString inTrash(const OperationSandbox& sandbox, const QString& name)
{
    QDir().mkpath(sandbox.trashFiles());
    const QString path = sandbox.trashFiles() + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("deleted") != 7) {
        qWarning("cannot write %s", qPrintable(path));
    }
    return path;
}

qint64 historyEventCount(const OperationSandbox& sandbox)
{
    return sandbox.runJson({QStringLiteral("history"), QStringLiteral("--json")})
        .value(QLatin1String("stats"))
        .toObject()
        .value(QLatin1String("eventCount"))
        .toInteger(-1);
}

QStringList labels(const QJsonArray& candidates)
{
    QStringList list;
    for (const QJsonValue& candidate : candidates) {
        list.append(candidate.toObject().value(QLatin1String("label")).toString());
    }
    return list;
}

} // namespace

class tst_CliCleanupCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void trashMovesTheNamedRowsIntoTheTrash();
    void trashRefusesCachesAndKeepsWhatItCouldNotMove();
    void cleanDeletesSafeCacheRowsButNotWhatTheirLinksPointTo();
    void cleanRefusesRowsThatAreNotSafe();
    void safeCleanupListsAndCleansKnownCaches();
    void safeCleanupWithNothingToCleanSucceeds();
    void badArgumentsAreUsageErrors_data();
    void badArgumentsAreUsageErrors();
};

void tst_CliCleanupCommands::trashMovesTheNamedRowsIntoTheTrash()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QString report = sandbox.makeHomeFile(QStringLiteral("Downloads/Отчёт за май.pdf"), 40000);
    const QString notes = sandbox.makeHomeFile(QStringLiteral("Downloads/notes.txt"), 12000);
    const QString kept = sandbox.makeHomeFile(QStringLiteral("Downloads/оставить.txt"), 100);
    const QByteArray downloads = native(sandbox.home().filePath(QStringLiteral("Downloads")));
    const TreeInventory before = TreeInventory::take(downloads);
    const qint64 freed = allocatedSize(report) + allocatedSize(notes);

    const QJsonObject trashed = sandbox.runJson({QStringLiteral("trash"), QStringLiteral("downloadsInbox"),
                                                 QStringLiteral("--only"), QStringLiteral("Отчёт за май.pdf"),
                                                 QStringLiteral("notes.txt"), QStringLiteral("--json")});
    QCOMPARE(trashed.value(QLatin1String("deleted")).toInteger(-1), 2);
    QCOMPARE(trashed.value(QLatin1String("failed")).toInteger(-1), 0);
    QCOMPARE(trashed.value(QLatin1String("freedBytes")).toInteger(-1), freed);
    QCOMPARE(trashed.value(QLatin1String("errors")).toArray(), QJsonArray());
    QCOMPARE(trashed.value(QLatin1String("category")).toString(), QStringLiteral("downloadsInbox"));
    QCOMPARE(trashed.value(QLatin1String("status")).toString(), resultLine(QStringLiteral("В Корзину: "), 2, 0, freed));

    // In the sandbox's Trash, byte for byte, each with its record.
    const TreeInventory inTrash = TreeInventory::take(native(sandbox.trashFiles()));
    for (const QString& path : {report, notes}) {
        const QString name = QFileInfo(path).fileName();
        QVERIFY2(!QFile::exists(path), qPrintable(path));
        QVERIFY2(inTrash.entries().value(native(name)).sameAs(before.entries().value(native(name))), qPrintable(name));
        bool encoded = false;
        QCOMPARE(trashedPath(sandbox.trashInfo() + QLatin1Char('/') + name + QStringLiteral(".trashinfo"), &encoded),
                 native(path));
        QVERIFY(encoded);
    }
    QCOMPARE(inTrash.fileCount(), 2);
    QVERIFY(QFile::exists(kept));
}

void tst_CliCleanupCommands::trashRefusesCachesAndKeepsWhatItCouldNotMove()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QString cache =
        sandbox.home().makeFile(QStringLiteral(".cache/com.example.tool/blob"), junkCacheSize);

    CliRun run = sandbox.run({QStringLiteral("trash"), QStringLiteral("systemJunk"), QStringLiteral("--json")});
    QVERIFY2(run.finished && run.exitCode == 1, run.describe());
    QVERIFY2(run.out.isEmpty(), run.describe());
    QCOMPARE(run.errText(), QStringLiteral("brisko: Для этой категории доступна только очистка безопасных кэшей\n"));
    QVERIFY(QFile::exists(cache));
    QVERIFY(!QFile::exists(sandbox.dataHome()));

    // A Trash that cannot be opened: the item stays where it was, and is
    // neither deleted nor copied anywhere else.
    QVERIFY(QDir().mkpath(sandbox.dataHome()));
    QFile blocker(sandbox.dataHome() + QStringLiteral("/Trash"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString item = sandbox.makeHomeFile(QStringLiteral("Downloads/файл.txt"), 3000);
    const TreeInventory before = TreeInventory::take(native(sandbox.home().path()));

    const QJsonObject failed = sandbox.runJson({QStringLiteral("trash"), QStringLiteral("downloadsInbox"),
                                                QStringLiteral("--json")}, 1);
    QCOMPARE(failed.value(QLatin1String("deleted")).toInteger(-1), 0);
    QCOMPARE(failed.value(QLatin1String("failed")).toInteger(-1), 1);
    QCOMPARE(failed.value(QLatin1String("freedBytes")).toInteger(-1), 0);
    const QJsonArray errors = failed.value(QLatin1String("errors")).toArray();
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.at(0).toString().startsWith(QStringLiteral("файл.txt: ")), qPrintable(errors.at(0).toString()));
    QCOMPARE(failed.value(QLatin1String("status")).toString(), resultLine(QStringLiteral("В Корзину: "), 0, 1, 0));
    const QStringList changes = TreeInventory::take(native(sandbox.home().path())).differencesFrom(before);
    QVERIFY2(changes.isEmpty(), qPrintable(changes.join(QLatin1Char('\n'))));
    QVERIFY(QFile::exists(item));

    // Text output: the failure on standard error, the status line on standard output.
    run = sandbox.run({QStringLiteral("trash"), QStringLiteral("downloadsInbox")});
    QVERIFY2(run.finished && run.exitCode == 1, run.describe());
    QVERIFY2(run.errText().contains(QStringLiteral("brisko: ") + errors.at(0).toString() + QLatin1Char('\n')),
             run.describe());
    QCOMPARE(run.outText(), resultLine(QStringLiteral("В Корзину: "), 0, 1, 0) + QLatin1Char('\n'));

    // Nothing was freed, so nothing went into the history.
    QCOMPARE(historyEventCount(sandbox), 0);
}

void tst_CliCleanupCommands::cleanDeletesSafeCacheRowsButNotWhatTheirLinksPointTo()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    TempHome& home = sandbox.home();
    const QString blob = home.makeFile(QStringLiteral(".cache/com.example.tool/blob"), junkCacheSize);
    const QString documents = sandbox.scratchPath(QStringLiteral("Документы"));
    QVERIFY(QDir().mkpath(documents));
    QFile important(documents + QStringLiteral("/важное.txt"));
    QVERIFY(important.open(QIODevice::WriteOnly) && important.write("keep me") == 7);
    important.close();
    const QString link = home.makeSymlink(documents, QStringLiteral(".cache/com.example.tool/документы"));
    const QString trashed = inTrash(sandbox, QStringLiteral("deleted.txt"));
    const TreeInventory documentsBefore = TreeInventory::take(native(documents));
    const qint64 freed = allocatedSize(blob) + allocatedSize(link);

    const QJsonObject cleaned = sandbox.runJson({QStringLiteral("clean"), QStringLiteral("systemJunk"),
                                                 QStringLiteral("--json")});
    QCOMPARE(cleaned.value(QLatin1String("deleted")).toInteger(-1), 1);
    QCOMPARE(cleaned.value(QLatin1String("failed")).toInteger(-1), 0);
    QCOMPARE(cleaned.value(QLatin1String("freedBytes")).toInteger(-1), freed);
    QCOMPARE(cleaned.value(QLatin1String("errors")).toArray(), QJsonArray());
    QCOMPARE(cleaned.value(QLatin1String("category")).toString(), QStringLiteral("systemJunk"));
    QCOMPARE(cleaned.value(QLatin1String("status")).toString(), resultLine(QStringLiteral("Очищено: "), 1, 0, freed));

    QVERIFY(!QFileInfo::exists(home.filePath(QStringLiteral(".cache/com.example.tool"))));
    const QStringList changes = TreeInventory::take(native(documents)).differencesFrom(documentsBefore);
    QVERIFY2(changes.isEmpty(), qPrintable(changes.join(QLatin1Char('\n'))));
    // The Trash row was not pre-selected and stays.
    QVERIFY(QFile::exists(trashed));
}

void tst_CliCleanupCommands::cleanRefusesRowsThatAreNotSafe()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QString trashed = inTrash(sandbox, QStringLiteral("deleted.txt"));
    const QString download = sandbox.makeHomeFile(QStringLiteral("Downloads/a.txt"), 100);

    // The Trash row is shown but never cleaned automatically.
    CliRun run = sandbox.run({QStringLiteral("clean"), QStringLiteral("systemJunk"), QStringLiteral("--only"),
                              QStringLiteral("Trash")});
    QVERIFY2(run.finished && run.exitCode == 1, run.describe());
    QVERIFY2(run.out.isEmpty(), run.describe());
    QVERIFY2(run.errText().contains(QStringLiteral(
                 "brisko: Выбранные элементы нельзя очистить автоматически — см. подсказку в колонке «Детали»\n")),
             run.describe());
    QVERIFY(QFile::exists(trashed));

    // Rows of a category that is not a cache are never cleaned.
    run = sandbox.run({QStringLiteral("clean"), QStringLiteral("downloadsInbox"), QStringLiteral("--json")});
    QVERIFY2(run.finished && run.exitCode == 1, run.describe());
    QVERIFY2(run.out.isEmpty(), run.describe());
    QCOMPARE(run.errText(), QStringLiteral("brisko: Ничего не выбрано для очистки\n"));
    QVERIFY(QFile::exists(download));
}

void tst_CliCleanupCommands::safeCleanupListsAndCleansKnownCaches()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    TempHome& home = sandbox.home();
    home.makeFile(QStringLiteral(".cache/pip/http/blob"), 3 * mebibyte);
    home.makeFile(QStringLiteral(".npm/_cacache/content-v2/пакет.tgz"), 2 * mebibyte);
    const QString small = home.makeFile(QStringLiteral(".cache/google-chrome/small"), 100 * 1024);
    const QString documents = sandbox.scratchPath(QStringLiteral("Документы"));
    QVERIFY(QDir().mkpath(documents));
    QFile important(documents + QStringLiteral("/важное.txt"));
    QVERIFY(important.open(QIODevice::WriteOnly) && important.write("keep me") == 7);
    important.close();
    home.makeSymlink(documents, QStringLiteral(".cache/pip/документы"));
    const TreeInventory documentsBefore = TreeInventory::take(native(documents));

    const QJsonObject listed = sandbox.runJson({QStringLiteral("safe-cleanup"), QStringLiteral("list"),
                                                QStringLiteral("--json")});
    const QJsonArray candidates = listed.value(QLatin1String("candidates")).toArray();
    QCOMPARE(labels(candidates), (QStringList{QStringLiteral("pip"), QStringLiteral("npm")}));
    qint64 total = 0;
    const QString paths[] = {home.filePath(QStringLiteral(".cache/pip")),
                             home.filePath(QStringLiteral(".npm/_cacache"))};
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        const QJsonObject candidate = candidates.at(i).toObject();
        QCOMPARE(candidate.value(QLatin1String("path")).toString(), paths[i]);
        QCOMPARE(candidate.value(QLatin1String("risk")).toString(), QStringLiteral("safe"));
        QCOMPARE(candidate.value(QLatin1String("isSelected")), QJsonValue(true));
        QVERIFY(!QUuid::fromString(candidate.value(QLatin1String("id")).toString()).isNull());
        QVERIFY(candidate.value(QLatin1String("size")).toInteger() > mebibyte);
        total += candidate.value(QLatin1String("size")).toInteger();
    }
    QCOMPARE(listed.value(QLatin1String("totalBytes")).toInteger(-1), total);
    const QString foundLine =
        QStringLiteral("Найдено 2 кэша (") + ByteCountFormatter::format(total) + QStringLiteral(")");
    QCOMPARE(listed.value(QLatin1String("status")).toString(), foundLine);

    CliRun run = sandbox.run({QStringLiteral("safe-cleanup"), QStringLiteral("list")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    const QStringList lines = run.outText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4); // header, two caches, status
    QVERIFY2(lines.at(1).contains(QLatin1String("pip")) && lines.at(1).contains(paths[0]), run.describe());
    QVERIFY2(lines.at(2).contains(QLatin1String("npm")) && lines.at(2).contains(paths[1]), run.describe());
    QCOMPARE(lines.at(3), foundLine);

    const QJsonObject cleaned = sandbox.runJson({QStringLiteral("safe-cleanup"), QStringLiteral("clean"),
                                                 QStringLiteral("--json")});
    QCOMPARE(cleaned.value(QLatin1String("deleted")).toInteger(-1), 2);
    QCOMPARE(cleaned.value(QLatin1String("failed")).toInteger(-1), 0);
    QCOMPARE(cleaned.value(QLatin1String("freedBytes")).toInteger(-1), total);
    QCOMPARE(cleaned.value(QLatin1String("errors")).toArray(), QJsonArray());
    QCOMPARE(cleaned.value(QLatin1String("candidates")).toArray(), QJsonArray());
    QCOMPARE(cleaned.value(QLatin1String("status")).toString(), resultLine(QStringLiteral("Удалено: "), 2, 0, total));
    QVERIFY(!QFileInfo::exists(paths[0]) && !QFileInfo::exists(paths[1]));
    QVERIFY(QFile::exists(small));
    const QStringList changes = TreeInventory::take(native(documents)).differencesFrom(documentsBefore);
    QVERIFY2(changes.isEmpty(), qPrintable(changes.join(QLatin1Char('\n'))));

    const QJsonObject after = sandbox.runJson({QStringLiteral("safe-cleanup"), QStringLiteral("list"),
                                               QStringLiteral("--json")});
    QCOMPARE(after.value(QLatin1String("candidates")).toArray(), QJsonArray());
    QCOMPARE(after.value(QLatin1String("status")).toString(),
             QStringLiteral("Безопасные кэши не найдены или уже очищены"));
}

void tst_CliCleanupCommands::safeCleanupWithNothingToCleanSucceeds()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    // Too small to be worth it.
    const QString small = sandbox.home().makeFile(QStringLiteral(".cache/pip/x"), 200 * 1024);

    const CliRun run = sandbox.run({QStringLiteral("safe-cleanup"), QStringLiteral("clean")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    QCOMPARE(run.outText(), QStringLiteral("Безопасные кэши не найдены или уже очищены\n"));
    QVERIFY(QFile::exists(small));

    const QJsonObject cleaned = sandbox.runJson({QStringLiteral("safe-cleanup"), QStringLiteral("clean"),
                                                 QStringLiteral("--json")});
    QCOMPARE(cleaned.value(QLatin1String("deleted")).toInteger(-1), 0);
    QCOMPARE(cleaned.value(QLatin1String("failed")).toInteger(-1), 0);
    QCOMPARE(cleaned.value(QLatin1String("freedBytes")).toInteger(-1), 0);
    QCOMPARE(cleaned.value(QLatin1String("status")).toString(),
             QStringLiteral("Безопасные кэши не найдены или уже очищены"));
    QVERIFY(QFile::exists(small));
    QCOMPARE(historyEventCount(sandbox), 0);
}

void tst_CliCleanupCommands::badArgumentsAreUsageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentioned");

    QTest::newRow("trash without category") << QStringList{QStringLiteral("trash")} << QStringLiteral("brisko trash");
    QTest::newRow("trash two categories")
        << QStringList{QStringLiteral("trash"), QStringLiteral("downloadsInbox"), QStringLiteral("systemJunk")}
        << QStringLiteral("systemJunk");
    QTest::newRow("clean unknown category") << QStringList{QStringLiteral("clean"), QStringLiteral("caches")}
                                            << QStringLiteral("«caches»");
    QTest::newRow("clean --only=name")
        << QStringList{QStringLiteral("clean"), QStringLiteral("systemJunk"), QStringLiteral("--only=x")}
        << QStringLiteral("--only");
    QTest::newRow("safe-cleanup without action") << QStringList{QStringLiteral("safe-cleanup")}
                                                 << QStringLiteral("brisko safe-cleanup");
    QTest::newRow("safe-cleanup unknown action")
        << QStringList{QStringLiteral("safe-cleanup"), QStringLiteral("purge")} << QStringLiteral("«purge»");
    QTest::newRow("safe-cleanup two actions")
        << QStringList{QStringLiteral("safe-cleanup"), QStringLiteral("list"), QStringLiteral("clean")}
        << QStringLiteral("brisko safe-cleanup");
}

void tst_CliCleanupCommands::badArgumentsAreUsageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentioned);
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    sandbox.home().makeFile(QStringLiteral(".cache/pip/blob"), 2 * mebibyte);
    sandbox.home().makeFile(QStringLiteral(".cache/com.example.tool/blob"), junkCacheSize);
    sandbox.makeHomeFile(QStringLiteral("Downloads/a.txt"), 100);
    const QByteArray home = native(sandbox.home().path());
    const TreeInventory before = TreeInventory::take(home);

    const CliRun run = sandbox.run(arguments);
    QVERIFY2(run.finished, run.describe());
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.out.isEmpty(), run.describe());
    QVERIFY2(run.errText().contains(mentioned), run.describe());
    QVERIFY2(run.errText().contains(QStringLiteral("Использование: brisko ")), run.describe());
    const QStringList changes = TreeInventory::take(home).differencesFrom(before);
    QVERIFY2(changes.isEmpty(), qPrintable(changes.join(QLatin1Char('\n'))));
    QVERIFY(!QFile::exists(sandbox.dataHome()));
}

BRISKO_TEST(tst_CliCleanupCommands)
#include "tst_CliCleanupCommands.moc"
