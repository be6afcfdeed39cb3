#include "BriskoTest.h"
#include "FakeClock.h"
#include "FaultInjectingFileSystem.h"
#include "ScratchDir.h"
#include "TempHome.h"
#include "TreeInventory.h"

#include "fileops/FileMover.h"
#include "fileops/MoveLogStore.h"
#include "model/ReferenceDate.h"
#include "platform/SettingsDefaultsStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

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
        return MoveLogStore(u"BriskoLastMoveBatch"_s,
                            std::make_shared<SettingsDefaultsStore>(m_archiveHome->filePath(u"d.ini"_s),
                                                                    QSettings::IniFormat),
                            m_fs);
    }
    ScanItem homeFile(const QString& relative)
    {
        return itemFor(FilePath::fromString(m_home->makeFile(relative, 10)));
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
    m_home->makeFile(u"Downloads/Проект/a.txt"_s, 1234);
    m_home->makeFile(u"Downloads/Проект/sub/b.bin"_s, 300000);
    m_home->makeFile(u"Downloads/Проект/sub/deeper/c"_s, 10);
    m_home->makeFile(u"Downloads/Проект/.hidden"_s, 77);
    m_home->makeDir(u"Downloads/Проект/empty"_s);
    m_home->makeSymlink(u"a.txt"_s, u"Downloads/Проект/link"_s);
    m_home->makeFileNative(QByteArray("Downloads/Проект/\xff\xfe.dat"), 4321);
    ::chmod(QFile::encodeName(m_home->filePath(u"Downloads/Проект/sub/b.bin"_s)).constData(), 0640);
    m_home->makeFile(u"Downloads/report.pdf"_s, 5000, QDateTime(QDate(2020, 1, 2), QTime(3, 4), Qt::UTC));
    m_home->makeFile(u"Documents/untouched.txt"_s, 999);
    return {itemFor(m_home->nativePath("Downloads/Проект")), itemFor(m_home->nativePath("Downloads/report.pdf"))};
}

void TestFileMover::collisionNames()
{
    // An empty list still makes the archive folder.
    const FilePath fresh = m_archiveHome->home().child(QByteArrayLiteral("fresh/nested"));
    QCOMPARE(move({}, fresh), MoveResult{});
    QVERIFY(QFileInfo(fresh.toString()).isDir());
    for (const QString& name : {u"report.pdf"_s, u"README"_s, u".bashrc"_s}) {
        m_archiveHome->makeFile(u"Brisko Archive/"_s + name, 1);
    }
    QStringList names;
    for (const QString& relative :
         {u"Downloads/report.pdf"_s, u"Downloads/report.pdf"_s, u"Downloads/report.pdf"_s,
          u"Загрузки/README"_s, u"Загрузки/README"_s, u"Загрузки/.bashrc"_s}) {
        const MoveResult r = move({homeFile(relative)});
        QCOMPARE(r.moved, 1);
        names.append(r.records.first().destinationPath.fileName());
    }
    QCOMPARE(names,
             (QStringList{u"report__Downloads.pdf"_s, u"report__Downloads_2.pdf"_s,
                          u"report__Downloads_3.pdf"_s, u"README__Загрузки"_s, u"README__Загрузки_2"_s,
                          u".bashrc__Загрузки"_s}));
    // The first archived file was never touched.
    QCOMPARE(QFileInfo(m_archive.child(QByteArrayLiteral("report.pdf")).toString()).size(), 1);
}

void TestFileMover::refusals()
{
    const ScanItemList tree = makeTree();
    const QString cache = m_home->makeFile(u"Library/Caches/app/x"_s, 10);
    const QString archived = m_home->makeFile(u"Downloads/Проект/sub/archive/old.zip"_s, 10);
    const TreeInventory before = TreeInventory::take(tree[0].path.native());
    const FilePath vanished = m_home->nativePath("Downloads/gone.zip");
    const ScanItemList items = {
        itemFor(FilePath::fromString(QFileInfo(cache).path()), ScanCategory::appCaches),
        ScanItem::make(vanished, 10, ScanCategory::downloadsInbox, false, true, std::nullopt),
        tree[0],
        itemFor(FilePath::fromString(archived)),
        tree[1],
    };
    const MoveResult result = move(items, tree[0].path.child(QByteArrayLiteral("sub/archive")));
    QCOMPARE(result.moved, 1);
    QCOMPARE(result.failed, 4);
    QCOMPARE(result.errors,
             (QStringList{u"Эту категорию нельзя переносить автоматически: app"_s,
                          u"Файл не найден: "_s + vanished.toString(),
                          u"Проект: папка архива находится внутри переносимой папки"_s,
                          u"old.zip: уже находится в папке архива"_s}));
    QVERIFY(QFile::exists(cache));
    // Nothing in the refused folder changed; only the report arrived in the archive inside it.
    QCOMPARE(TreeInventory::take(tree[0].path.native()).differencesFrom(before),
             QStringList{u"added: sub/archive/report.pdf"_s});
}

void TestFileMover::archiveFolderCannotBeCreated_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QString>("reason");
    QTest::newRow("below a file") << QByteArray("blocker/archive") << ItemTransfer::describe(ENOTDIR);
    QTest::newRow("relative") << QByteArray() << u"путь к архиву должен быть абсолютным"_s;
}

void TestFileMover::archiveFolderCannotBeCreated()
{
    QFETCH(QByteArray, archive);
    QFETCH(QString, reason);
    m_archiveHome->makeFile(u"blocker"_s, 1);
    const ScanItem normal = homeFile(u"Downloads/ok.zip"_s);
    const MoveResult result =
        move({normal, itemFor(FilePath("/nope"))},
             archive.isEmpty() ? FilePath("relative/archive") : m_archiveHome->nativePath(archive));
    QCOMPARE(result.moved, 0);
    QCOMPARE(result.failed, 2);
    QCOMPARE(result.errors, QStringList{u"Не удалось создать папку архива: "_s + reason});
    QVERIFY(QFile::exists(normal.path.toString()));
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
        const QByteArray documents = QFile::encodeName(m_home->filePath(u"Documents"_s));
        const TreeInventory untouched = TreeInventory::take(documents);

        m_fs->failOperation(n, errors[n % 4]);
        const MoveResult result = move(items);
        const bool fired = m_fs->faultFired();
        m_fs->failOperation(0, 0);

        QCOMPARE(result.moved + result.failed, 2);
        const bool noArchive = result.errors.size() == 1
            && result.errors.first().startsWith(u"Не удалось создать папку архива: "_s);
        QCOMPARE(result.errors.size(), noArchive ? 1 : result.failed);
        for (int i = 0; i < items.size(); ++i) {
            const auto record = std::find_if(result.records.cbegin(), result.records.cend(),
                                             [&](const MoveRecord& r) { return r.originalPath == items[i].path; });
            const TreeInventory atHome = TreeInventory::take(items[i].path.native());
            if (record != result.records.cend()) {
                // Moved: all of it in the archive (permissions and times included), nothing left at home.
                QCOMPARE(TreeInventory::take(record->destinationPath.native()).differencesFrom(before[i]), QStringList());
                QVERIFY(!atHome.rootExists());
                continue;
            }
            const FilePath copy = m_archive.child(items[i].path.fileNameNative());
            const TreeInventory inArchive = TreeInventory::take(copy.native());
            // A complete copy whose source could not (all) go: the message says where the copy is.
            const bool bothKept = std::any_of(result.errors.cbegin(), result.errors.cend(), [&](const QString& e) {
                return e.contains(u"исходник остался"_s) && e.contains(copy.toString());
            });
            if (atHome.differencesFrom(before[i]).isEmpty()) {
                QVERIFY(!inArchive.rootExists() || (bothKept && inArchive.differencesFrom(before[i]).isEmpty()));
            } else {
                QCOMPARE(inArchive.differencesFrom(before[i]), QStringList());
                QCOMPARE(TreeInventory::lostEntries(before[i], atHome, inArchive), QStringList());
                QVERIFY(bothKept);
            }
        }
        QCOMPARE(TreeInventory::take(documents).differencesFrom(untouched), QStringList());
        // No half-made copy stays in the archive.
        QVERIFY(QDir(m_archive.toString()).entryList({u".brisko-*"_s}, QDir::AllEntries | QDir::Hidden).isEmpty());
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
    const QByteArray downloads = QFile::encodeName(m_home->filePath(u"Downloads"_s));
    const TreeInventory before = TreeInventory::take(downloads);

    const MoveResult moved = move(items);
    QCOMPARE(moved.moved, 2);
    const MoveBatch batch{QUuid::createUuid(), moved.records, 42.5};
    QVERIFY(log.save(batch));
    QCOMPARE(log.loadLastBatch(), batch);
    // The folder the items came from has gone meanwhile: it is made again.
    QVERIFY(ScratchDir::removeTree(downloads));

    QCOMPARE(log.undo(batch), (MoveResult{2, 0, 2000, {}, {}, false, {}}));
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
    const ScanItem first = homeFile(u"Downloads/first.txt"_s);
    const MoveResult moved = move({first, homeFile(u"Downloads/second.txt"_s)});
    QCOMPARE(moved.moved, 2);
    const MoveBatch batch{QUuid::createUuid(), moved.records, 1};
    const auto park = [&](const QString& from, const QString& to) {
        for (const MoveRecord& record : moved.records) {
            QVERIFY(QFile::rename(record.destinationPath.toString() + from,
                                  record.destinationPath.toString() + to));
        }
    };

    // Every archived copy gone: nothing returns, the batch stays for a later try.
    park({}, u".away"_s);
    QVERIFY(log.save(batch));
    // Last moved comes first.
    QCOMPARE(log.undo(batch), (MoveResult{0, 2, 0, {u"Не найден в архиве: second.txt"_s, u"Не найден в архиве: first.txt"_s},
                                          {}, false, {}}));
    QCOMPARE(log.loadLastBatch(), batch);

    // One former place taken again: that one fails, the other returns, the batch is cleared.
    park(u".away"_s, {});
    m_home->makeFile(u"Downloads/first.txt"_s, 3);
    const MoveResult undone = log.undo(batch);
    QCOMPARE(undone.moved, 1);
    QCOMPARE(undone.failed, 1);
    QCOMPARE(undone.errors, QStringList{u"Уже существует: first.txt"_s});
    QVERIFY(!log.loadLastBatch());
    QCOMPARE(QFileInfo(first.path.toString()).size(), 3); // never overwritten
    QVERIFY(QFile::exists(moved.records[0].destinationPath.toString()));
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
        const TreeInventory atHome = TreeInventory::take(project);
        QCOMPARE(TreeInventory::lostEntries(before, atHome, TreeInventory::take(archived)), QStringList());
        if (undone.moved == 1) {
            QCOMPARE(atHome.differencesFrom(before), QStringList());
            QVERIFY(!log.loadLastBatch());
        } else {
            QCOMPARE(undone.failed, 1);
            // Either untouched in the archive, or complete at home with the
            // archive copy not fully removed.
            QVERIFY(TreeInventory::take(archived).differencesFrom(before).isEmpty()
                    || atHome.differencesFrom(before).isEmpty());
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
    const MoveRecord plain{QUuid::fromString(u"{0f8fad5b-d9cb-469f-a165-70867728950e}"_s),
                           FilePath::fromString(u"/home/u/Downloads/отчёт.pdf"_s),
                           FilePath::fromString(u"/media/a/отчёт.pdf"_s), 1234, 786000000.25};
    const MoveRecord odd{QUuid::createUuid(), FilePath(QByteArray("/home/u/\xff.bin")),
                         FilePath(QByteArray("/media/a/\xff.bin")), 7, 1};
    const MoveBatch batch{QUuid::createUuid(), {plain, odd}, 786000001.5};
    const QByteArray json = *batch.toJson();
    QVERIFY(!json.contains('\n'));
    const QJsonObject o = QJsonDocument::fromJson(json).object();
    QCOMPARE(o.keys(), (QStringList{u"createdAt"_s, u"id"_s, u"records"_s}));
    const QJsonObject first = o.value("records"_L1).toArray().first().toObject();
    QCOMPARE(first.keys(),
             (QStringList{u"destinationPath"_s, u"id"_s, u"movedAt"_s, u"originalPath"_s, u"size"_s}));
    QCOMPARE(first.value("id"_L1).toString(), u"0F8FAD5B-D9CB-469F-A165-70867728950E"_s);
    QCOMPARE(first.value("originalPath"_L1).toString(), u"/home/u/Downloads/отчёт.pdf"_s);
    QCOMPARE(first.value("movedAt"_L1).toDouble(), 786000000.25);
    // The exact bytes of a name that is not UTF-8 survive the round trip.
    QCOMPARE(MoveBatch::fromJson(json), batch);
    QVERIFY(!MoveBatch::fromJson("{\"id\":\"x\"}"));
    QVERIFY(!MoveBatch::fromJson("garbage"));
}

BRISKO_TEST(TestFileMover)
#include "tst_FileMover.moc"
