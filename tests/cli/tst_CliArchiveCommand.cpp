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

namespace {

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

QStringList entryNames(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

} // namespace

class tst_CliArchiveCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void createListAndRestorePacked();
    void plainArchiveInTextMode();
    void emptyProfileAndDamagedArchiveFail();
    void unknownArchiveIsRefused();
    void badArgumentsAreUsageErrors_data();
    void badArgumentsAreUsageErrors();
};

void tst_CliArchiveCommand::createListAndRestorePacked()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QString archive = sandbox.scratchPath(QStringLiteral("archive"));
    QVERIFY(sandbox.setSetting(QStringLiteral("archivePath=") + archive));
    sandbox.makeHomeFile(QStringLiteral("Documents/Отчёт за май.pdf"), 300000);
    sandbox.makeHomeFile(QStringLiteral("Documents/проект/план.txt"), 5000);
    sandbox.makeHomeFile(QStringLiteral("Desktop/setup.dmg"), 1000);
    sandbox.makeHomeFile(QStringLiteral("Desktop/notes.txt"), 1000);
    const QByteArray documents = native(sandbox.home().filePath(QStringLiteral("Documents")));
    const TreeInventory original = TreeInventory::take(documents);

    const QJsonObject created = sandbox.runJson(
        {QStringLiteral("archive"), QStringLiteral("create"), QStringLiteral("essential"), QStringLiteral("--json")});
    QCOMPARE(created.value(QLatin1String("copiedFiles")).toInteger(-1), 2);
    QCOMPARE(created.value(QLatin1String("errors")).toArray(), QJsonArray());
    const QString id = created.value(QLatin1String("id")).toString();
    QVERIFY(id.startsWith(QLatin1String("Brisko_")));
    const QString folder = archive + QStringLiteral("/CleanArchives/") + id;
    QCOMPARE(created.value(QLatin1String("path")).toString(), folder);
    QCOMPARE(entryNames(folder), (QStringList{QStringLiteral("archive.tar.zst"), QStringLiteral("manifest.json")}));
    const QJsonObject manifest = created.value(QLatin1String("manifest")).toObject();
    QCOMPARE(manifest.value(QLatin1String("compression")).toString(), QStringLiteral("tar.zst"));
    QCOMPARE(manifest.value(QLatin1String("compressedBytes")).toInteger(-1),
             QFileInfo(folder + QStringLiteral("/archive.tar.zst")).size());
    QString status = QStringLiteral("Архив «Документы и рабочий стол»: 2 элемента, ")
        + ByteCountFormatter::format(manifest.value(QLatin1String("totalBytes")).toInteger()) + QStringLiteral(" → ")
        + ByteCountFormatter::format(manifest.value(QLatin1String("compressedBytes")).toInteger())
        + QStringLiteral(" tar.zst");
    QCOMPARE(created.value(QLatin1String("status")).toString(), status);

    const QJsonObject listed =
        sandbox.runJson({QStringLiteral("archive"), QStringLiteral("list"), QStringLiteral("--json")});
    const QJsonArray archives = listed.value(QLatin1String("archives")).toArray();
    QCOMPARE(archives.size(), 1);
    QCOMPARE(archives.at(0).toObject().value(QLatin1String("id")).toString(), id);
    QCOMPARE(archives.at(0).toObject().value(QLatin1String("manifest")).toObject(), manifest);

    // Documents is gone from the home, the Desktop is still there.
    QVERIFY(ScratchDir::removeTree(documents));
    const QJsonObject restored =
        sandbox.runJson({QStringLiteral("archive"), QStringLiteral("restore"), id, QStringLiteral("--json")});
    QCOMPARE(restored.value(QLatin1String("restored")).toInteger(-1), 1);
    QCOMPARE(restored.value(QLatin1String("skipped")).toInteger(-1), 1);
    QCOMPARE(restored.value(QLatin1String("failed")).toInteger(-1), 0);
    QCOMPARE(restored.value(QLatin1String("status")).toString(),
             QStringLiteral("Восстановлено: 1, пропущено (уже есть): 1, ошибок: 0"));
    const TreeInventory back = TreeInventory::take(documents);
    QCOMPARE(back.entriesNotIn(original), QStringList());
    QCOMPARE(original.entriesNotIn(back), QStringList());
}

void tst_CliArchiveCommand::plainArchiveInTextMode()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QString archive = sandbox.scratchPath(QStringLiteral("archive"));
    QVERIFY(sandbox.setSetting(QStringLiteral("archivePath=") + archive));
    QVERIFY(sandbox.setSetting(QStringLiteral("compressCleanArchive=false")));
    sandbox.makeHomeFile(QStringLiteral("Projects/app/main.c"), 2000);
    sandbox.makeHomeFile(QStringLiteral(".ssh/config"), 100);

    const CliRun run = sandbox.run({QStringLiteral("archive"), QStringLiteral("create"), QStringLiteral("developer")});
    QVERIFY2(run.finished && run.exitCode == 0, run.describe());
    const QStringList out = run.outText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(out.size(), 2);
    QVERIFY(out.at(0).startsWith(QStringLiteral("Архив: ") + archive + QStringLiteral("/CleanArchives/Brisko_")));
    QVERIFY(out.at(1).startsWith(QStringLiteral("Архив «Разработка»: 2 элемента, ")));
    QVERIFY(!out.at(1).contains(QStringLiteral("→")));
    // Progress on standard error, one line per step when it is not a terminal.
    QVERIFY2(run.errText().contains(QStringLiteral("  0% Копирование Projects…\n")), run.describe());
    QVERIFY(run.errText().contains(QStringLiteral(" 50% Копирование .ssh…\n")));
    QVERIFY(run.errText().contains(QStringLiteral("100% Готово\n")));
    const QString folder = out.at(0).mid(7);
    QCOMPARE(entryNames(folder), (QStringList{QStringLiteral("manifest.json"), QStringLiteral("payload")}));
    QCOMPARE(entryNames(folder + QStringLiteral("/payload")),
             (QStringList{QStringLiteral(".ssh"), QStringLiteral("Projects")}));

    const CliRun list = sandbox.run({QStringLiteral("archive"), QStringLiteral("list")});
    QVERIFY2(list.finished && list.exitCode == 0, list.describe());
    QVERIFY(list.outText().contains(QFileInfo(folder).fileName()));
    QVERIFY(list.outText().contains(QStringLiteral("Разработка")));
}

void tst_CliArchiveCommand::emptyProfileAndDamagedArchiveFail()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QString archive = sandbox.scratchPath(QStringLiteral("archive"));
    QVERIFY(sandbox.setSetting(QStringLiteral("archivePath=") + archive));
    const QJsonObject empty = sandbox.runJson(
        {QStringLiteral("archive"), QStringLiteral("create"), QStringLiteral("creative"), QStringLiteral("--json")}, 1);
    QCOMPARE(empty.value(QLatin1String("errors")).toArray(),
             QJsonArray{QStringLiteral("Не найдены папки профиля «Медиа и проекты»")});
    QVERIFY(!QFileInfo::exists(archive + QStringLiteral("/CleanArchives")));

    sandbox.makeHomeFile(QStringLiteral("Music/a.mp3"), 4000);
    const QJsonObject created = sandbox.runJson(
        {QStringLiteral("archive"), QStringLiteral("create"), QStringLiteral("creative"), QStringLiteral("--json")});
    const QString packed = created.value(QLatin1String("path")).toString() + QStringLiteral("/archive.tar.zst");
    QFile file(packed);
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.seek(file.size() - 3);
    file.write("xyz");
    file.close();
    QVERIFY(ScratchDir::removeTree(native(sandbox.home().filePath(QStringLiteral("Music")))));

    const CliRun run = sandbox.run(
        {QStringLiteral("archive"), QStringLiteral("restore"), created.value(QLatin1String("id")).toString()});
    QVERIFY2(run.finished && run.exitCode == 1, run.describe());
    QVERIFY(run.errText().contains(QStringLiteral("brisko: SHA256 архива не совпадает с manifest.\n")));
    QVERIFY(run.outText().endsWith(QStringLiteral("Восстановлено: 0, пропущено (уже есть): 0, ошибок: 1\n")));
    QVERIFY(!QFileInfo::exists(sandbox.home().filePath(QStringLiteral("Music"))));
}

void tst_CliArchiveCommand::unknownArchiveIsRefused()
{
    OperationSandbox sandbox;
    QVERIFY(sandbox.isValid());
    const QString archive = sandbox.scratchPath(QStringLiteral("archive"));
    QVERIFY(sandbox.setSetting(QStringLiteral("archivePath=") + archive));
    const CliRun run =
        sandbox.run({QStringLiteral("archive"), QStringLiteral("restore"), QStringLiteral("Brisko_nope")});
    QVERIFY2(run.finished && run.exitCode == 1, run.describe());
    QCOMPARE(run.errText(),
             QStringLiteral("brisko: архив «Brisko_nope» не найден в ") + archive + QStringLiteral("/CleanArchives\n"));
    const CliRun list = sandbox.run({QStringLiteral("archive"), QStringLiteral("list")});
    QCOMPARE(list.outText(), QStringLiteral("Архивов нет в ") + archive + QStringLiteral("/CleanArchives\n"));
}

void tst_CliArchiveCommand::badArgumentsAreUsageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("nothing") << QStringList{QStringLiteral("archive")};
    QTest::newRow("unknown action") << QStringList{QStringLiteral("archive"), QStringLiteral("pack")};
    QTest::newRow("create without profile") << QStringList{QStringLiteral("archive"), QStringLiteral("create")};
    QTest::newRow("unknown profile") << QStringList{QStringLiteral("archive"), QStringLiteral("create"),
                                                    QStringLiteral("all")};
    QTest::newRow("restore without id") << QStringList{QStringLiteral("archive"), QStringLiteral("restore")};
    QTest::newRow("list with more") << QStringList{QStringLiteral("archive"), QStringLiteral("list"),
                                                   QStringLiteral("x")};
    QTest::newRow("unknown option") << QStringList{QStringLiteral("archive"), QStringLiteral("list"),
                                                   QStringLiteral("--all")};
}

void tst_CliArchiveCommand::badArgumentsAreUsageErrors()
{
    QFETCH(QStringList, arguments);
    OperationSandbox sandbox;
    const CliRun run = sandbox.run(arguments);
    QVERIFY2(run.finished && run.exitCode == 2, run.describe());
    QVERIFY(run.out.isEmpty());
    QVERIFY(run.errText().contains(QStringLiteral("archive create ПРОФИЛЬ | list | restore ID [--json]")));
}

BRISKO_TEST(tst_CliArchiveCommand)
#include "tst_CliArchiveCommand.moc"
