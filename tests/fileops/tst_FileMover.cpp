#include "BriskoTest.h"
#include "FakeClock.h"
#include "FaultInjectingFileSystem.h"
#include "TempHome.h"
#include "TreeInventory.h"

#include "fileops/FileMover.h"
#include "fileops/MoveLogStore.h"
#include "platform/PlatformFileSystem.h"
#include "platform/SettingsDefaultsStore.h"

#include "app/ReferenceDate.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// A folder on another file system than the temporary homes, when the machine has one.
QString otherVolume()
{
    struct statfs tmp;
    struct statfs shm;
    if (::statfs(QFile::encodeName(QDir::tempPath()).constData(), &tmp) != 0 || ::statfs("/dev/shm", &shm) != 0) {
        return {};
    }
    struct stat a;
    struct stat b;
    if (::stat(QFile::encodeName(QDir::tempPath()).constData(), &a) != 0 || ::stat("/dev/shm", &b) != 0
        || a.st_dev == b.st_dev || ::access("/dev/shm", W_OK) != 0) {
        return {};
    }
    return QStringLiteral("/dev/shm");
}

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
    void movesWithinAVolumeAndRecords();
    void collisionNames();
    void refusalsAndMissingFiles();
    void archiveFolderCannotBeCreated();
    void refusesAnArchiveInsideTheItem();
    void crossVolumeMoveKeepsEverything();
    void realCrossVolumeMove();
    void everyFaultLeavesEveryByte_data();
    void everyFaultLeavesEveryByte();
    void sourceThatCannotBeRemovedKeepsBothCopies();
    void undoReturnsInReverseAndClears();
    void undoFailuresKeepOrClearTheBatch();
    void everyFaultDuringUndoLeavesEveryByte();
    void batchJsonFormat();

private:
    // Downloads/Проект/{a.txt, sub/b.bin, sub/deeper/c, empty/, link -> a.txt, \xff\xfe.dat}, Downloads/report.pdf
    void makeTree();
    ScanItemList treeItems() const;
    // Every file of the tree is at its source or at its recorded destination,
    // byte for byte.
    void verifyNothingLost(const QByteArray& source, const QByteArray& destination, const TreeInventory& before);

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<TempHome> m_archiveHome;
    std::shared_ptr<FaultInjectingFileSystem> m_fs;
    std::shared_ptr<FakeClock> m_clock;
    FilePath m_archive;
};

void TestFileMover::init()
{
    m_home = std::make_unique<TempHome>();
    m_archiveHome = std::make_unique<TempHome>();
    m_fs = std::make_shared<FaultInjectingFileSystem>();
    m_clock = std::make_shared<FakeClock>(QDateTime(QDate(2026, 12, 6), QTime(10, 0), Qt::UTC));
    m_archive = m_archiveHome->home().child(QByteArrayLiteral("Brisko Archive"));
}

void TestFileMover::makeTree()
{
    m_home->makeFile(QStringLiteral("Downloads/Проект/a.txt"), 1234);
    m_home->makeFile(QStringLiteral("Downloads/Проект/sub/b.bin"), 300000);
    m_home->makeFile(QStringLiteral("Downloads/Проект/sub/deeper/c"), 10);
    m_home->makeFile(QStringLiteral("Downloads/Проект/.hidden"), 77);
    m_home->makeDir(QStringLiteral("Downloads/Проект/empty"));
    m_home->makeSymlink(QStringLiteral("a.txt"), QStringLiteral("Downloads/Проект/link"));
    m_home->makeFileNative(QByteArray("Downloads/\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb5\xd0\xba\xd1\x82/\xff\xfe.dat"), 4321);
    ::chmod(QFile::encodeName(m_home->filePath(QStringLiteral("Downloads/Проект/sub/b.bin"))).constData(), 0640);
    m_home->makeFile(QStringLiteral("Downloads/report.pdf"), 5000, QDateTime(QDate(2020, 1, 2), QTime(3, 4), Qt::UTC));
    m_home->makeFile(QStringLiteral("Documents/untouched.txt"), 999);
}

ScanItemList TestFileMover::treeItems() const
{
    return {itemFor(FilePath::fromString(m_home->filePath(QStringLiteral("Downloads/Проект")))),
            itemFor(FilePath::fromString(m_home->filePath(QStringLiteral("Downloads/report.pdf"))))};
}

void TestFileMover::verifyNothingLost(const QByteArray& source, const QByteArray& destination,
                                      const TreeInventory& before)
{
    QCOMPARE(TreeInventory::lostEntries(before, TreeInventory::take(source), TreeInventory::take(destination)),
             QStringList());
}

void TestFileMover::movesWithinAVolumeAndRecords()
{
    makeTree();
    const FileMover mover(m_fs, m_clock);
    QList<std::pair<qint64, qint64>> progress;
    const ScanItemList items = treeItems();
    const MoveResult result = mover.moveNow(items, m_archive, [&](qint64 d, qint64 t) { progress.append({d, t}); });
    QCOMPARE(result.moved, 2);
    QCOMPARE(result.failed, 0);
    QCOMPARE(result.freedBytes, 2000);
    QVERIFY(result.errors.isEmpty());
    QCOMPARE(progress, (QList<std::pair<qint64, qint64>>{{1, 2}, {2, 2}}));
    QCOMPARE(result.records.size(), 2);
    QCOMPARE(result.records[0].originalPath, items[0].path);
    QCOMPARE(result.records[0].destinationPath, m_archive.child(QByteArray("Проект")));
    QCOMPARE(result.records[0].size, 1000);
    QCOMPARE(result.records[0].movedAt, ReferenceDate::fromDateTime(m_clock->now()));
    QVERIFY(result.records[0].id != result.records[1].id);
    // The whole tree arrived, links as links, the odd name intact.
    const TreeInventory arrived = TreeInventory::take(result.records[0].destinationPath.native());
    QVERIFY(!TreeInventory::take(items[0].path.native()).entries().contains(QByteArray()));
    QCOMPARE(arrived.entries().value("link").kind, TreeInventory::Entry::Kind::Symlink);
    QVERIFY(arrived.entries().contains(QByteArray("\xff\xfe.dat")));
    QCOMPARE(arrived.entries().value("sub/b.bin").size, 300000);

    // An empty list still makes the archive folder.
    const FilePath fresh = m_archiveHome->home().child(QByteArrayLiteral("fresh/nested"));
    const MoveResult empty = mover.moveNow({}, fresh, {});
    QCOMPARE(empty, MoveResult{});
    QVERIFY(QFileInfo(fresh.toString()).isDir());
}

void TestFileMover::collisionNames()
{
    const FileMover mover(m_fs, m_clock);
    m_archiveHome->makeFile(QStringLiteral("Brisko Archive/report.pdf"), 1);
    m_archiveHome->makeFile(QStringLiteral("Brisko Archive/README"), 1);
    QStringList names;
    for (int i = 0; i < 3; ++i) {
        const QString path = m_home->makeFile(QStringLiteral("Downloads/report.pdf"), 10 + i);
        const MoveResult r = mover.moveNow({itemFor(FilePath::fromString(path))}, m_archive, {});
        QCOMPARE(r.moved, 1);
        names.append(r.records.first().destinationPath.fileName());
    }
    QCOMPARE(names, (QStringList{QStringLiteral("report__Downloads.pdf"), QStringLiteral("report__Downloads_2.pdf"),
                                 QStringLiteral("report__Downloads_3.pdf")}));
    names.clear();
    for (int i = 0; i < 2; ++i) {
        const QString path = m_home->makeFile(QStringLiteral("Загрузки/README"), 5);
        names.append(mover.moveNow({itemFor(FilePath::fromString(path))}, m_archive, {})
                         .records.first()
                         .destinationPath.fileName());
    }
    QCOMPARE(names, (QStringList{QStringLiteral("README__Загрузки"), QStringLiteral("README__Загрузки_2")}));
    // The first archived file was never touched.
    QCOMPARE(QFileInfo(m_archive.child(QByteArrayLiteral("report.pdf")).toString()).size(), 1);
}

void TestFileMover::refusalsAndMissingFiles()
{
    const QString cache = m_home->makeFile(QStringLiteral("Library/Caches/app/x"), 10);
    const QString normal = m_home->makeFile(QStringLiteral("Downloads/ok.zip"), 10);
    const FilePath vanished = FilePath::fromString(m_home->filePath(QStringLiteral("Downloads/gone.zip")));
    const ScanItemList items = {
        itemFor(FilePath::fromString(QFileInfo(cache).path()), ScanCategory::appCaches),
        ScanItem::make(vanished, 10, ScanCategory::downloadsInbox, false, true, std::nullopt),
        itemFor(FilePath::fromString(normal), ScanCategory::downloadsInbox),
    };
    const MoveResult result = FileMover(m_fs, m_clock).moveNow(items, m_archive, {});
    QCOMPARE(result.moved, 1);
    QCOMPARE(result.failed, 2);
    QCOMPARE(result.errors, (QStringList{QStringLiteral("Эту категорию нельзя переносить автоматически: app"),
                                         QStringLiteral("Файл не найден: ") + vanished.toString()}));
    QVERIFY(QFile::exists(cache));
}

void TestFileMover::archiveFolderCannotBeCreated()
{
    m_archiveHome->makeFile(QStringLiteral("blocker"), 1);
    const QString normal = m_home->makeFile(QStringLiteral("Downloads/ok.zip"), 10);
    const FilePath archive = m_archiveHome->home().child(QByteArrayLiteral("blocker/archive"));
    const MoveResult result =
        FileMover(m_fs, m_clock).moveNow({itemFor(FilePath::fromString(normal)), itemFor(FilePath("/nope"))}, archive, {});
    QCOMPARE(result.moved, 0);
    QCOMPARE(result.failed, 2);
    QCOMPARE(result.errors.size(), 1);
    QVERIFY(result.errors.first().startsWith(QStringLiteral("Не удалось создать папку архива: ")));
    QVERIFY(result.errors.first().size() > QStringLiteral("Не удалось создать папку архива: ").size());
    QVERIFY(QFile::exists(normal));
}

void TestFileMover::refusesAnArchiveInsideTheItem()
{
    makeTree();
    const FilePath project = FilePath::fromString(m_home->filePath(QStringLiteral("Downloads/Проект")));
    const TreeInventory before = TreeInventory::take(project.native());
    const MoveResult result =
        FileMover(m_fs, m_clock).moveNow({itemFor(project)}, project.child(QByteArrayLiteral("sub/archive")), {});
    QCOMPARE(result.moved, 0);
    QCOMPARE(result.failed, 1);
    QVERIFY(result.errors.first().startsWith(QStringLiteral("Проект: ")));
    // Nothing left the folder; only the archive folder that was asked for appeared in it.
    const TreeInventory after = TreeInventory::take(project.native());
    QCOMPARE(before.entriesNotIn(after), QStringList());
    QCOMPARE(after.entriesNotIn(before).size(), 1);
    QVERIFY(after.entries().contains("sub/archive"));
}

void TestFileMover::crossVolumeMoveKeepsEverything()
{
    makeTree();
    m_fs->setVolumeBoundary(QFile::encodeName(m_archiveHome->path()));
    const QByteArray downloads = QFile::encodeName(m_home->filePath(QStringLiteral("Downloads")));
    const TreeInventory before = TreeInventory::take(downloads + "/Проект");
    const ScanItemList items = treeItems();
    const MoveResult result = FileMover(m_fs, m_clock).moveNow(items, m_archive, {});
    QCOMPARE(result.moved, 2);
    QCOMPARE(TreeInventory::take(result.records[0].destinationPath.native()).differencesFrom(before), QStringList());
    QVERIFY(!TreeInventory::take(items[0].path.native()).rootExists());
    // Permissions and times came along; nothing half-made is left behind.
    struct stat st;
    QCOMPARE(::lstat((result.records[0].destinationPath.native() + "/sub/b.bin").constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, 0640u);
    QCOMPARE(::lstat(result.records[1].destinationPath.native().constData(), &st), 0);
    QCOMPARE(qint64(st.st_mtim.tv_sec), QDateTime(QDate(2020, 1, 2), QTime(3, 4), Qt::UTC).toSecsSinceEpoch());
    QCOMPARE(QDir(m_archive.toString()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 2);
}

void TestFileMover::realCrossVolumeMove()
{
    const QString other = otherVolume();
    if (other.isEmpty()) {
        QSKIP("no second file system (/dev/shm on another device than the temporary folder)");
    }
    makeTree();
    QTemporaryDir target(other + QStringLiteral("/brisko-move-XXXXXX"));
    QVERIFY(target.isValid());
    const QByteArray project = QFile::encodeName(m_home->filePath(QStringLiteral("Downloads/Проект")));
    const TreeInventory before = TreeInventory::take(project);
    const auto fs = std::make_shared<PlatformFileSystem>();
    const FilePath archive = FilePath::fromString(target.path()).child(QByteArrayLiteral("Архив"));
    const MoveResult result = FileMover(fs, m_clock).moveNow(treeItems(), archive, {});
    QCOMPARE(result.moved, 2);
    QCOMPARE(TreeInventory::take(result.records[0].destinationPath.native()).differencesFrom(before), QStringList());
    QVERIFY(!TreeInventory::take(project).rootExists());

    // And back again, across the same boundary.
    MoveBatch batch{QUuid::createUuid(), result.records, 0};
    auto store = std::make_shared<SettingsDefaultsStore>(target.filePath(QStringLiteral("d.ini")), QSettings::IniFormat);
    const MoveResult undone = MoveLogStore(QStringLiteral("k"), store, fs).undo(batch);
    QCOMPARE(undone.moved, 2);
    QCOMPARE(TreeInventory::take(project).differencesFrom(before), QStringList());
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
        makeTree();
        if (crossVolume) {
            m_fs->setVolumeBoundary(QFile::encodeName(m_archiveHome->path()));
        }
        const ScanItemList items = treeItems();
        QList<TreeInventory> before;
        for (const ScanItem& item : items) {
            before.append(TreeInventory::take(item.path.native()));
        }
        const QByteArray documents = QFile::encodeName(m_home->filePath(QStringLiteral("Documents")));
        const TreeInventory untouched = TreeInventory::take(documents);

        m_fs->failOperation(n, errors[n % 4]);
        const MoveResult result = FileMover(m_fs, m_clock).moveNow(items, m_archive, {});
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
                // Moved: all of it in the archive, nothing left at home.
                QCOMPARE(TreeInventory::take(record->destinationPath.native()).differencesFrom(before[i]), QStringList());
                QVERIFY(!atHome.rootExists());
                continue;
            }
            const TreeInventory inArchive = TreeInventory::take(m_archive.child(items[i].path.fileNameNative()).native());
            const bool bothKept = std::any_of(result.errors.cbegin(), result.errors.cend(), [](const QString& e) {
                return e.contains(QStringLiteral("исходник остался"));
            });
            if (atHome.differencesFrom(before[i]).isEmpty()) {
                // Failed before the end: untouched at home, nothing in the
                // archive; or the copy was complete and the source could not
                // be removed at all.
                QVERIFY(!inArchive.rootExists() || (bothKept && inArchive.differencesFrom(before[i]).isEmpty()));
            } else {
                // The source could not be removed after a complete copy:
                // every file is still somewhere, and the message says so.
                QCOMPARE(inArchive.differencesFrom(before[i]), QStringList());
                verifyNothingLost(items[i].path.native(), m_archive.child(items[i].path.fileNameNative()).native(),
                                  before[i]);
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
            break;
        }
        ++faults;
        QVERIFY(n < 500);
    }
    // Across volumes every copy, flush, check and removal step was hit.
    QVERIFY(faults > (crossVolume ? 30 : 2));
}

void TestFileMover::sourceThatCannotBeRemovedKeepsBothCopies()
{
    // Count the operations of a clean cross-volume move; the very last one
    // removes the source folder itself, after the copy is complete.
    makeTree();
    m_fs->setVolumeBoundary(QFile::encodeName(m_archiveHome->path()));
    m_fs->failOperation(0, 0);
    QCOMPARE(FileMover(m_fs, m_clock).moveNow({treeItems().first()}, m_archive, {}).moved, 1);
    const int operations = m_fs->operationCount();

    init();
    makeTree();
    m_fs->setVolumeBoundary(QFile::encodeName(m_archiveHome->path()));
    const ScanItem item = treeItems().first();
    const TreeInventory before = TreeInventory::take(item.path.native());
    m_fs->failOperation(operations, EBUSY);
    const MoveResult result = FileMover(m_fs, m_clock).moveNow({item}, m_archive, {});
    QVERIFY(m_fs->faultFired());
    QCOMPARE(result.moved, 0);
    QCOMPARE(result.failed, 1);
    QVERIFY(result.records.isEmpty());
    QVERIFY2(result.errors.first().contains(m_archive.child(QByteArray("Проект")).toString()),
             qPrintable(result.errors.first()));
    // The copy is whole and is not taken back; the source folder is still there.
    QCOMPARE(TreeInventory::take(m_archive.child(QByteArray("Проект")).native()).differencesFrom(before), QStringList());
    QVERIFY(TreeInventory::take(item.path.native()).rootExists());
}

void TestFileMover::undoReturnsInReverseAndClears()
{
    makeTree();
    const QString storeFile = m_archiveHome->filePath(QStringLiteral("defaults.ini"));
    auto store = std::make_shared<SettingsDefaultsStore>(storeFile, QSettings::IniFormat);
    const MoveLogStore log(QStringLiteral("BriskoLastMoveBatch"), store, m_fs);
    const QByteArray downloads = QFile::encodeName(m_home->filePath(QStringLiteral("Downloads")));
    const TreeInventory before = TreeInventory::take(downloads);

    const MoveResult moved = FileMover(m_fs, m_clock).moveNow(treeItems(), m_archive, {});
    QCOMPARE(moved.moved, 2);
    const MoveBatch batch{QUuid::createUuid(), moved.records, 42.5};
    QVERIFY(log.save(batch));
    QCOMPARE(log.loadLastBatch(), batch);
    // The folder the items came from has gone meanwhile: it is made again.
    QVERIFY(QDir(m_home->filePath(QStringLiteral("Downloads"))).removeRecursively());

    const MoveResult undone = log.undo(batch);
    QCOMPARE(undone.moved, 2);
    QCOMPARE(undone.failed, 0);
    QCOMPARE(undone.freedBytes, 2000);
    QVERIFY(undone.records.isEmpty());
    QCOMPARE(TreeInventory::take(downloads).differencesFrom(before), QStringList());
    QVERIFY(!log.loadLastBatch());
    QVERIFY(!store->data(QStringLiteral("BriskoLastMoveBatch")));

    // An empty batch clears and returns zeros.
    QVERIFY(log.save(MoveBatch{QUuid::createUuid(), {}, 1}));
    QCOMPARE(log.undo(*log.loadLastBatch()), MoveResult{});
    QVERIFY(!log.loadLastBatch());
}

void TestFileMover::undoFailuresKeepOrClearTheBatch()
{
    auto store = std::make_shared<SettingsDefaultsStore>(m_archiveHome->filePath(QStringLiteral("d.ini")),
                                                         QSettings::IniFormat);
    const MoveLogStore log(QStringLiteral("k"), store, m_fs);
    const QString first = m_home->makeFile(QStringLiteral("Downloads/first.txt"), 10);
    const QString second = m_home->makeFile(QStringLiteral("Downloads/second.txt"), 10);
    const MoveResult moved = FileMover(m_fs, m_clock)
                                 .moveNow({itemFor(FilePath::fromString(first)), itemFor(FilePath::fromString(second))},
                                          m_archive, {});
    QCOMPARE(moved.moved, 2);
    const MoveBatch batch{QUuid::createUuid(), moved.records, 1};

    // Every archived copy deleted: nothing returns, the batch stays for a later try.
    const QString archivedFirst = moved.records[0].destinationPath.toString();
    const QString archivedSecond = moved.records[1].destinationPath.toString();
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
        makeTree();
        m_fs->setVolumeBoundary(QFile::encodeName(m_archiveHome->path()));
        const QByteArray project = QFile::encodeName(m_home->filePath(QStringLiteral("Downloads/Проект")));
        const TreeInventory before = TreeInventory::take(project);
        const MoveResult moved = FileMover(m_fs, m_clock).moveNow({treeItems().first()}, m_archive, {});
        QCOMPARE(moved.moved, 1);
        auto store = std::make_shared<SettingsDefaultsStore>(m_archiveHome->filePath(QStringLiteral("d.ini")),
                                                             QSettings::IniFormat);
        const MoveLogStore log(QStringLiteral("k"), store, m_fs);
        const MoveBatch batch{QUuid::createUuid(), moved.records, 1};
        QVERIFY(log.save(batch));

        m_fs->failOperation(n, errors[n % 4]);
        const MoveResult undone = log.undo(batch);
        const bool fired = m_fs->faultFired();
        m_fs->failOperation(0, 0);
        verifyNothingLost(project, moved.records.first().destinationPath.native(), before);
        if (undone.moved == 1) {
            QCOMPARE(TreeInventory::take(project).differencesFrom(before), QStringList());
            QVERIFY(!log.loadLastBatch());
        } else {
            QCOMPARE(undone.failed, 1);
            // Either untouched in the archive, or complete at home with the
            // archive copy not fully removed.
            const TreeInventory archived = TreeInventory::take(moved.records.first().destinationPath.native());
            QVERIFY(archived.differencesFrom(before).isEmpty()
                    || TreeInventory::take(project).differencesFrom(before).isEmpty());
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
