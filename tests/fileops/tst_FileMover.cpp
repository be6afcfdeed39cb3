#include "BriskoTest.h"
#include "FakeClock.h"
#include "FaultInjectingFileSystem.h"
#include "ScratchDir.h"
#include "TempHome.h"
#include "TreeInventory.h"

#include "fileops/FileMover.h"
#include "fileops/MoveLogStore.h"
#include "platform/SettingsDefaultsStore.h"

#include "model/ReferenceDate.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

ScanItem itemFor(const FilePath& path, ScanCategory category = ScanCategory::largeFolders)
{
    struct stat st;
    const bool isDir = ::lstat(path.native().constData(), &st) == 0 && S_ISDIR(st.st_mode);
    return ScanItem::make(path, 1000, category, isDir, true, std::nullopt);
}

} // namespace

class TestFileMover : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void collisionNames();
    void refusals();
    void archiveFolderCannotBeCreated_data();
    void archiveFolderCannotBeCreated();
    void everyFaultLeavesEveryByte_data();
    void everyFaultLeavesEveryByte();
    void undoReturnsInReverseAndClears();
    void undoFailuresKeepOrClearTheBatch();
    void everyFaultDuringUndoLeavesEveryByte();
    void batchJsonFormat();

private:
    // Downloads/Проект/{a.txt, sub/b.bin, sub/deeper/c, .hidden, empty/, link -> a.txt, \xff\xfe.dat},
    // Downloads/report.pdf, Documents/untouched.txt
    ScanItemList makeTree();
    MoveResult move(const ScanItemList& items, const FilePath& archive = {})
    {
        m_progress.clear();
        return FileMover(m_fs, m_clock).moveNow(items, archive.isEmpty() ? m_archive : archive,
                                                [this](qint64 d, qint64 t) { m_progress.append({d, t}); });
    }
    MoveLogStore log() const
    {
        return MoveLogStore(QStringLiteral("BriskoLastMoveBatch"),
                            std::make_shared<SettingsDefaultsStore>(m_archiveHome->filePath(QStringLiteral("d.ini")),
                                                                    QSettings::IniFormat),
                            m_fs);
    }

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<TempHome> m_archiveHome;
    std::shared_ptr<FaultInjectingFileSystem> m_fs;
    std::shared_ptr<FakeClock> m_clock;
    FilePath m_archive;
    QList<std::pair<qint64, qint64>> m_progress;
};

void TestFileMover::init()
{
    m_home = std::make_unique<TempHome>();
    m_archiveHome = std::make_unique<TempHome>();
    m_fs = std::make_shared<FaultInjectingFileSystem>();
    m_clock = std::make_shared<FakeClock>(QDateTime(QDate(2026, 12, 6), QTime(10, 0), Qt::UTC));
    m_archive = m_archiveHome->home().child(QByteArrayLiteral("Brisko Archive"));
}

ScanItemList TestFileMover::makeTree()
{
    m_home->makeFile(QStringLiteral("Downloads/Проект/a.txt"), 1234);
    m_home->makeFile(QStringLiteral("Downloads/Проект/sub/b.bin"), 300000);
    m_home->makeFile(QStringLiteral("Downloads/Проект/sub/deeper/c"), 10);
    m_home->makeFile(QStringLiteral("Downloads/Проект/.hidden"), 77);
    m_home->makeDir(QStringLiteral("Downloads/Проект/empty"));
    m_home->makeSymlink(QStringLiteral("a.txt"), QStringLiteral("Downloads/Проект/link"));
    m_home->makeFileNative(QByteArray("Downloads/Проект/\xff\xfe.dat"), 4321);
    ::chmod(QFile::encodeName(m_home->filePath(QStringLiteral("Downloads/Проект/sub/b.bin"))).constData(), 0640);
    m_home->makeFile(QStringLiteral("Downloads/report.pdf"), 5000, QDateTime(QDate(2020, 1, 2), QTime(3, 4), Qt::UTC));
    m_home->makeFile(QStringLiteral("Documents/untouched.txt"), 999);
    return {itemFor(m_home->nativePath("Downloads/Проект")), itemFor(m_home->nativePath("Downloads/report.pdf"))};
}

void TestFileMover::collisionNames()
{
    // An empty list still makes the archive folder.
    const FilePath fresh = m_archiveHome->home().child(QByteArrayLiteral("fresh/nested"));
    QCOMPARE(move({}, fresh), MoveResult{});
    QVERIFY(QFileInfo(fresh.toString()).isDir());
    m_archiveHome->makeFile(QStringLiteral("Brisko Archive/report.pdf"), 1);
    m_archiveHome->makeFile(QStringLiteral("Brisko Archive/README"), 1);
    m_archiveHome->makeFile(QStringLiteral("Brisko Archive/.bashrc"), 1);
    QStringList names;
    for (const QString& relative :
         {QStringLiteral("Downloads/report.pdf"), QStringLiteral("Downloads/report.pdf"),
          QStringLiteral("Downloads/report.pdf"), QStringLiteral("Загрузки/README"), QStringLiteral("Загрузки/README"),
          QStringLiteral("Загрузки/.bashrc")}) {
        const MoveResult r = move({itemFor(FilePath::fromString(m_home->makeFile(relative, 10)))});
        QCOMPARE(r.moved, 1);
        names.append(r.records.first().destinationPath.fileName());
    }
    QCOMPARE(names, (QStringList{QStringLiteral("report__Downloads.pdf"), QStringLiteral("report__Downloads_2.pdf"),
                                 QStringLiteral("report__Downloads_3.pdf"), QStringLiteral("README__Загрузки"),
                                 QStringLiteral("README__Загрузки_2"), QStringLiteral(".bashrc__Загрузки")}));
    // The first archived file was never touched.
    QCOMPARE(QFileInfo(m_archive.child(QByteArrayLiteral("report.pdf")).toString()).size(), 1);
}

void TestFileMover::refusals()
{
    const ScanItemList tree = makeTree();
    const QString cache = m_home->makeFile(QStringLiteral("Library/Caches/app/x"), 10);
    const QString archived = m_home->makeFile(QStringLiteral("Downloads/Проект/sub/archive/old.zip"), 10);
    const TreeInventory before = TreeInventory::take(tree[0].path.native());
    const FilePath vanished = m_home->nativePath("Downloads/gone.zip");
    const ScanItemList items = {
        itemFor(FilePath::fromString(QFileInfo(cache).path()), ScanCategory::appCaches),
        ScanItem::make(vanished, 10, ScanCategory::downloadsInbox, false, true, std::nullopt),
        tree[0],
        itemFor(FilePath::fromString(archived)),
        tree[1],
    };
    const FilePath archive = tree[0].path.child(QByteArrayLiteral("sub/archive"));
    const MoveResult result = move(items, archive);
    QCOMPARE(result.moved, 1);
    QCOMPARE(result.failed, 4);
    QCOMPARE(result.errors, (QStringList{QStringLiteral("Эту категорию нельзя переносить автоматически: app"),
                                         QStringLiteral("Файл не найден: ") + vanished.toString(),
                                         QStringLiteral("Проект: папка архива находится внутри переносимой папки"),
                                         QStringLiteral("old.zip: уже находится в папке архива")}));
    QVERIFY(QFile::exists(cache));
    // Nothing in the refused folder changed; only the report arrived in the archive inside it.
    QCOMPARE(TreeInventory::take(tree[0].path.native()).differencesFrom(before),
             QStringList{QStringLiteral("added: sub/archive/report.pdf")});
}

void TestFileMover::archiveFolderCannotBeCreated_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QString>("reason");
    QTest::newRow("below a file") << QByteArray("blocker/archive") << ItemTransfer::describe(ENOTDIR);
    QTest::newRow("relative") << QByteArray() << QStringLiteral("путь к архиву должен быть абсолютным");
}

void TestFileMover::archiveFolderCannotBeCreated()
{
    QFETCH(QByteArray, archive);
    QFETCH(QString, reason);
    m_archiveHome->makeFile(QStringLiteral("blocker"), 1);
    const QString normal = m_home->makeFile(QStringLiteral("Downloads/ok.zip"), 10);
    const FilePath target = archive.isEmpty() ? FilePath("relative/archive") : m_archiveHome->nativePath(archive);
    const MoveResult result =
        FileMover(m_fs, m_clock).moveNow({itemFor(FilePath::fromString(normal)), itemFor(FilePath("/nope"))}, target, {});
    QCOMPARE(result.moved, 0);
    QCOMPARE(result.failed, 2);
    QCOMPARE(result.errors, QStringList{QStringLiteral("Не удалось создать папку архива: ") + reason});
    QVERIFY(QFile::exists(normal));
}

void TestFileMover::everyFaultLeavesEveryByte_data()
{
    QTest::addColumn<bool>("crossVolume");
    QTest::newRow("same volume") << false;
    QTest::newRow("across volumes") << true;
}

void TestFileMover::everyFaultLeavesEveryByte()
{
    QFETCH(bool, crossVolume);
    const int errors[] = {ENOSPC, EIO, EACCES, EXDEV};
    int faults = 0;
    for (int n = 1;; ++n) {
        init();
        const ScanItemList items = makeTree();
        if (crossVolume) {
            m_fs->setVolumeBoundary(QFile::encodeName(m_archiveHome->path()));
        }
        QList<TreeInventory> before;
        for (const ScanItem& item : items) {
            before.append(TreeInventory::take(item.path.native()));
        }
        const QByteArray documents = QFile::encodeName(m_home->filePath(QStringLiteral("Documents")));
        const TreeInventory untouched = TreeInventory::take(documents);

        m_fs->failOperation(n, errors[n % 4]);
        const MoveResult result = move(items);
        const bool fired = m_fs->faultFired();
        m_fs->failOperation(0, 0);

        QCOMPARE(result.moved + result.failed, 2);
        const bool noArchive = result.errors.size() == 1
            && result.errors.first().startsWith(QStringLiteral("Не удалось создать папку архива: "));
        QCOMPARE(result.errors.size(), noArchive ? 1 : result.failed);
        for (int i = 0; i < items.size(); ++i) {
            const auto record = std::find_if(result.records.cbegin(), result.records.cend(),
                                             [&](const MoveRecord& r) { return r.originalPath == items[i].path; });
            const TreeInventory atHome = TreeInventory::take(items[i].path.native());
            if (record != result.records.cend()) {
                // Moved: all of it in the archive (permissions and times
                // included), nothing left at home.
                QCOMPARE(TreeInventory::take(record->destinationPath.native()).differencesFrom(before[i]), QStringList());
                QVERIFY(!atHome.rootExists());
                continue;
            }
            const FilePath copy = m_archive.child(items[i].path.fileNameNative());
            const TreeInventory inArchive = TreeInventory::take(copy.native());
            // The source could not be removed after a complete copy: the
            // message says where the copy is.
            const bool bothKept = std::any_of(result.errors.cbegin(), result.errors.cend(), [&](const QString& e) {
                return e.contains(QStringLiteral("исходник остался")) && e.contains(copy.toString());
            });
            if (atHome.differencesFrom(before[i]).isEmpty()) {
                // Failed before the end: untouched at home, nothing in the
                // archive; or the copy was complete and the source could not
                // be removed at all.
                QVERIFY(!inArchive.rootExists() || (bothKept && inArchive.differencesFrom(before[i]).isEmpty()));
            } else {
                // Part of the source went after a complete copy: every file
                // is still somewhere.
                QCOMPARE(inArchive.differencesFrom(before[i]), QStringList());
                QCOMPARE(TreeInventory::lostEntries(before[i], atHome, inArchive), QStringList());
                QVERIFY(bothKept);
            }
        }
        QCOMPARE(TreeInventory::take(documents).differencesFrom(untouched), QStringList());
        // No half-made copy stays in the archive.
        const QStringList left =
            QDir(m_archive.toString()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        for (const QString& entry : left) {
            QVERIFY2(!entry.startsWith(QLatin1String(".brisko-partial-")), qPrintable(entry));
        }
        if (!fired) {
            QCOMPARE(result.moved, 2);
            QCOMPARE(result.freedBytes, 2000);
            QCOMPARE(m_progress, (QList<std::pair<qint64, qint64>>{{1, 2}, {2, 2}}));
            QCOMPARE(result.records[0].destinationPath, m_archive.child(QByteArray("Проект")));
            QCOMPARE(result.records[0].size, 1000);
            QCOMPARE(result.records[0].movedAt, ReferenceDate::fromDateTime(m_clock->now()));
            QVERIFY(result.records[0].id != result.records[1].id);
            break;
        }
        ++faults;
        QVERIFY(n < 500);
    }
    // Across volumes every copy, flush, check and removal step was hit.
    QVERIFY(faults > (crossVolume ? 30 : 2));
}

void TestFileMover::undoReturnsInReverseAndClears()
{
    const ScanItemList items = makeTree();
    const MoveLogStore log = this->log();
    const QByteArray downloads = QFile::encodeName(m_home->filePath(QStringLiteral("Downloads")));
    const TreeInventory before = TreeInventory::take(downloads);

    const MoveResult moved = move(items);
    QCOMPARE(moved.moved, 2);
    const MoveBatch batch{QUuid::createUuid(), moved.records, 42.5};
    QVERIFY(log.save(batch));
    QCOMPARE(log.loadLastBatch(), batch);
    // The folder the items came from has gone meanwhile: it is made again.
    QVERIFY(ScratchDir::removeTree(downloads));

    const MoveResult undone = log.undo(batch);
    QCOMPARE(undone.moved, 2);
    QCOMPARE(undone.failed, 0);
    QCOMPARE(undone.freedBytes, 2000);
    QVERIFY(undone.records.isEmpty());
    QCOMPARE(TreeInventory::take(downloads).differencesFrom(before), QStringList());
    QVERIFY(!log.loadLastBatch());

    // An empty batch clears and returns zeros.
    QVERIFY(log.save(MoveBatch{QUuid::createUuid(), {}, 1}));
    QCOMPARE(log.undo(*log.loadLastBatch()), MoveResult{});
    QVERIFY(!log.loadLastBatch());
}

void TestFileMover::undoFailuresKeepOrClearTheBatch()
{
    const MoveLogStore log = this->log();
    const QString first = m_home->makeFile(QStringLiteral("Downloads/first.txt"), 10);
    const QString second = m_home->makeFile(QStringLiteral("Downloads/second.txt"), 10);
    const MoveResult moved = move({itemFor(FilePath::fromString(first)), itemFor(FilePath::fromString(second))});
    QCOMPARE(moved.moved, 2);
    const MoveBatch batch{QUuid::createUuid(), moved.records, 1};
    const QString archivedFirst = moved.records[0].destinationPath.toString();
    const QString archivedSecond = moved.records[1].destinationPath.toString();

    // Every archived copy gone: nothing returns, the batch stays for a later try.
    QFile::rename(archivedFirst, archivedFirst + QStringLiteral(".away"));
    QFile::rename(archivedSecond, archivedSecond + QStringLiteral(".away"));
    QVERIFY(log.save(batch));
    MoveResult undone = log.undo(batch);
    QCOMPARE(undone.moved, 0);
    QCOMPARE(undone.failed, 2);
    // Last moved comes first.
    QCOMPARE(undone.errors, (QStringList{QStringLiteral("Не найден в архиве: second.txt"),
                                         QStringLiteral("Не найден в архиве: first.txt")}));
    QCOMPARE(log.loadLastBatch(), batch);

    // One former place taken again: that one fails, the other returns, the batch is cleared.
    QFile::rename(archivedFirst + QStringLiteral(".away"), archivedFirst);
    QFile::rename(archivedSecond + QStringLiteral(".away"), archivedSecond);
    m_home->makeFile(QStringLiteral("Downloads/first.txt"), 3);
    undone = log.undo(batch);
    QCOMPARE(undone.moved, 1);
    QCOMPARE(undone.failed, 1);
    QCOMPARE(undone.errors, QStringList{QStringLiteral("Уже существует: first.txt")});
    QVERIFY(!log.loadLastBatch());
    QCOMPARE(QFileInfo(first).size(), 3); // never overwritten
    QVERIFY(QFile::exists(archivedFirst));
}

void TestFileMover::everyFaultDuringUndoLeavesEveryByte()
{
    const int errors[] = {EIO, ENOSPC, EXDEV, EACCES};
    for (int n = 1;; ++n) {
        init();
        const ScanItem item = makeTree().first();
        m_fs->setVolumeBoundary(QFile::encodeName(m_archiveHome->path()));
        const QByteArray project = item.path.native();
        const TreeInventory before = TreeInventory::take(project);
        const MoveResult moved = move({item});
        QCOMPARE(moved.moved, 1);
        const QByteArray archived = moved.records.first().destinationPath.native();
        const MoveLogStore log = this->log();
        const MoveBatch batch{QUuid::createUuid(), moved.records, 1};
        QVERIFY(log.save(batch));

        m_fs->failOperation(n, errors[n % 4]);
        const MoveResult undone = log.undo(batch);
        const bool fired = m_fs->faultFired();
        m_fs->failOperation(0, 0);
        QCOMPARE(TreeInventory::lostEntries(before, TreeInventory::take(project), TreeInventory::take(archived)),
                 QStringList());
        if (undone.moved == 1) {
            QCOMPARE(TreeInventory::take(project).differencesFrom(before), QStringList());
            QVERIFY(!log.loadLastBatch());
        } else {
            QCOMPARE(undone.failed, 1);
            // Either untouched in the archive, or complete at home with the
            // archive copy not fully removed.
            QVERIFY(TreeInventory::take(archived).differencesFrom(before).isEmpty()
                    || TreeInventory::take(project).differencesFrom(before).isEmpty());
            QCOMPARE(log.loadLastBatch(), batch);
        }
        if (!fired) {
            QCOMPARE(undone.moved, 1);
            break;
        }
        QVERIFY(n < 500);
    }
}

void TestFileMover::batchJsonFormat()
{
    const MoveRecord plain{QUuid::fromString(QStringLiteral("{0f8fad5b-d9cb-469f-a165-70867728950e}")),
                           FilePath::fromString(QStringLiteral("/home/u/Downloads/отчёт.pdf")),
                           FilePath::fromString(QStringLiteral("/media/a/отчёт.pdf")), 1234, 786000000.25};
    const MoveRecord odd{QUuid::createUuid(), FilePath(QByteArray("/home/u/\xff.bin")),
                         FilePath(QByteArray("/media/a/\xff.bin")), 7, 1};
    const MoveBatch batch{QUuid::createUuid(), {plain, odd}, 786000001.5};
    const QByteArray json = *batch.toJson();
    QVERIFY(!json.contains('\n'));
    const QJsonObject o = QJsonDocument::fromJson(json).object();
    QCOMPARE(o.keys(), (QStringList{QStringLiteral("createdAt"), QStringLiteral("id"), QStringLiteral("records")}));
    const QJsonObject first = o.value(QLatin1String("records")).toArray().first().toObject();
    QCOMPARE(first.keys(), (QStringList{QStringLiteral("destinationPath"), QStringLiteral("id"), QStringLiteral("movedAt"),
                                        QStringLiteral("originalPath"), QStringLiteral("size")}));
    QCOMPARE(first.value(QLatin1String("id")).toString(), QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E"));
    QCOMPARE(first.value(QLatin1String("originalPath")).toString(), QStringLiteral("/home/u/Downloads/отчёт.pdf"));
    QCOMPARE(first.value(QLatin1String("movedAt")).toDouble(), 786000000.25);
    // The exact bytes of a name that is not UTF-8 survive the round trip.
    QCOMPARE(MoveBatch::fromJson(json), batch);
    QVERIFY(!MoveBatch::fromJson("{\"id\":\"x\"}"));
    QVERIFY(!MoveBatch::fromJson("garbage"));
}

BRISKO_TEST(TestFileMover)
#include "tst_FileMover.moc"
