#include "BriskoTest.h"
#include "TestValues.h"
#include "FaultInjectingFileSystem.h"
#include "RepresentativeTree.h"
#include "ScratchDir.h"
#include "TreeInventory.h"

#include "fileops/ItemTransfer.h"
#include "fileops/TreeRemover.h"
#include "platform/PlatformTrash.h"
#include "platform/TrustedRoots.h"

#include <QThread>
#include <QTest>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Swaps a folder for a link to another folder just before the remover opens
// it, as a hostile or unlucky concurrent change would.
class SwappingFileSystem : public FaultInjectingFileSystem
{
public:
    SwappingFileSystem(QByteArray folder, QByteArray parkedAt, QByteArray linkTarget)
        : m_folder(std::move(folder))
        , m_parkedAt(std::move(parkedAt))
        , m_linkTarget(std::move(linkTarget))
    {
    }

    int openDirectoryNoFollow(int dirFd, const char* name, const QByteArray& fullPath, int* fd) const override
    {
        if (fullPath == m_folder && !m_swapped) {
            m_swapped = std::rename(m_folder.constData(), m_parkedAt.constData()) == 0
                && ::symlink(m_linkTarget.constData(), m_folder.constData()) == 0;
        }
        return FaultInjectingFileSystem::openDirectoryNoFollow(dirFd, name, fullPath, fd);
    }

    mutable bool m_swapped = false;

private:
    QByteArray m_folder;
    QByteArray m_parkedAt;
    QByteArray m_linkTarget;
};

} // namespace

class TestTreeRemover : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void singleEntries_data();
    void singleEntries();
    void refusals_data();
    void refusals();
    void takesApartATreeDeeperThanAnyPath_data();
    void takesApartATreeDeeperThanAnyPath();
    void aLinkOnTheWayIsNeverFollowed_data();
    void aLinkOnTheWayIsNeverFollowed();
    void folderSwappedForALinkIsNotFollowed();

private:
    std::unique_ptr<ScratchDir> m_scratch;
    std::shared_ptr<FaultInjectingFileSystem> m_fs;
    QByteArray m_documents;
};

void TestTreeRemover::init()
{
    m_scratch = std::make_unique<ScratchDir>();
    QVERIFY(m_scratch->isValid());
    m_fs = std::make_shared<FaultInjectingFileSystem>();
    m_documents = m_scratch->filePath("Документы");
}

void TestTreeRemover::singleEntries_data()
{
    QTest::addColumn<QByteArray>("kind");
    // A cache folder that is itself a link to the user's documents: the link
    // goes, its target stays.
    for (const char* kind : {"file", "empty folder", "link to a file", "link to a folder", "dangling link",
                             "name that is not UTF-8"}) {
        QTest::newRow(kind) << QByteArray(kind);
    }
}

void TestTreeRemover::singleEntries()
{
    QFETCH(QByteArray, kind);
    const QByteArray kept = m_scratch->writeFile("Документы/держать.txt", "не трогать");
    QByteArray entry;
    if (kind == "file") {
        entry = m_scratch->writeFile("кэш.bin", "данные");
    } else if (kind == "empty folder") {
        entry = m_scratch->makeDirectory("пустая");
    } else if (kind == "link to a file") {
        entry = m_scratch->makeLink(kept, "ссылка");
    } else if (kind == "link to a folder") {
        entry = m_scratch->makeLink(m_documents, "ссылка-на-документы");
    } else if (kind == "dangling link") {
        entry = m_scratch->makeLink("/nonexistent/target", "висячая");
    } else {
        entry = m_scratch->makeDirectory("\xff\xfe-\xe9");
        m_scratch->writeFile("\xff\xfe-\xe9/\x80.bin", "x");
    }
    const TreeRemover::Result result = TreeRemover(m_fs).remove(FilePath(entry + '/'));
    QVERIFY2(result.ok(), qPrintable(result.message()));
    QVERIFY(!ScratchDir::exists(entry));
    QCOMPARE(ScratchDir::readFile(kept), QByteArray("не трогать"));
    QCOMPARE(m_fs->openDescriptors(), 0);
}

void TestTreeRemover::refusals_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("error");
    QTest::newRow("missing") << QByteArray("@/исчезнувший") << ENOENT;
    QTest::newRow("missing folder above") << QByteArray("@/исчезнувший/внутри") << ENOENT;
    // Paths that name no entry are refused before anything is touched.
    QTest::newRow("relative") << QByteArray("cache/tree") << EINVAL;
    QTest::newRow("dot") << QByteArray("/.") << EINVAL;
    QTest::newRow("dot dot") << QByteArray("/tmp/..") << EINVAL;
    QTest::newRow("root") << QByteArray("/") << EINVAL;
    QTest::newRow("empty") << QByteArray() << EINVAL;
}

void TestTreeRemover::refusals()
{
    QFETCH(QByteArray, path);
    QFETCH(int, error);
    path.replace("@", m_scratch->path());
    if (error == EINVAL) {
        // These name the real root: were the refusal ever broken, nothing
        // may be removed there, so every change fails instead.
        m_fs->failEveryOperation(EPERM);
    }
    const TreeRemover::Result result = TreeRemover(m_fs).remove(FilePath(path));
    QCOMPARE(result.error, error);
    QCOMPARE(result.message(), platformText(error));
    if (error == EINVAL) {
        QCOMPARE(m_fs->operationCount(), 0);
    } else if (path.endsWith("исчезнувший")) {
        QCOMPARE(result.failedPath, FilePath(path));
    }
}

void TestTreeRemover::takesApartATreeDeeperThanAnyPath_data()
{
    QTest::addColumn<bool>("move");
    QTest::newRow("delete") << false;
    QTest::newRow("move across volumes") << true;
}

void TestTreeRemover::takesApartATreeDeeperThanAnyPath()
{
    // Deeper than any path the kernel takes in one piece, so every step is
    // relative to an open folder; nothing may hold a descriptor per level.
    // The work runs on a thread with a small stack: a walk that recursed
    // would overflow it long before the last level (128 bytes a level).
    QFETCH(bool, move);
    const int levels = 4000;
    const QByteArray root = m_scratch->makeDirectory("deep");
    QCOMPARE(ScratchDir::makeChain(root, levels, true), levels);
    const QByteArray archive = m_scratch->makeDirectory("other-volume");
    m_fs->setVolumeBoundary(archive);
    QString error;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        if (!move) {
            error = TreeRemover(m_fs).remove(FilePath(root)).message();
            return;
        }
        const ItemTransfer::Result moved = ItemTransfer(m_fs).move(FilePath(root), FilePath(archive + "/deep"));
        if (moved.outcome != ItemTransfer::Outcome::moved) {
            error = moved.error.isEmpty() ? u"not moved"_s : moved.error;
        }
    }));
    worker->setStackSize(512 * 1024);
    worker->start();
    QVERIFY(worker->wait());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    if (move) {
        QCOMPARE(ScratchDir::makeChain(archive + "/deep", 0), levels);
    }
    QVERIFY(!ScratchDir::exists(root));
    QCOMPARE(m_fs->openDescriptors(), 0);
    QVERIFY2(m_fs->maxOpenDescriptors() < 200, qPrintable(QString::number(m_fs->maxOpenDescriptors())));
}

void TestTreeRemover::aLinkOnTheWayIsNeverFollowed_data()
{
    QTest::addColumn<QString>("operation");
    for (const char* operation : {"delete", "move", "trash"}) {
        QTest::newRow(operation) << QString::fromLatin1(operation);
    }
}

void TestTreeRemover::aLinkOnTheWayIsNeverFollowed()
{
    QFETCH(QString, operation);
    const QByteArray home = m_scratch->makeDirectory("home");
    const QByteArray disk = m_scratch->makeDirectory("disk/кэш");
    m_scratch->writeFile("disk/кэш/app/данные.bin", "rebuilt on demand");
    m_scratch->writeFile("Документы/x/отчёт.txt", "keep me");
    m_scratch->makeLink(m_documents, "disk/кэш/swapped");
    const TreeInventory documents = TreeInventory::take(m_documents);
    int moves = 0;
    const auto act = [&](const TrustedRoots& roots, const QByteArray& item) {
        if (operation == "delete"_L1) {
            return TreeRemover(m_fs, roots).remove(FilePath(item)).message();
        }
        if (operation == "move"_L1) {
            return ItemTransfer(m_fs, roots).move(FilePath(item), FilePath(home + "/moved" + QByteArray::number(++moves))).error;
        }
        return PlatformTrash(FilePath(home + "/.local/share"), m_fs, {}, roots).moveToTrash(FilePath(item)).error;
    };
    const auto relinkCache = [&](const QByteArray& target) {
        ::unlink((home + "/.cache").constData());
        return ::symlink(target.constData(), (home + "/.cache").constData()) == 0;
    };

    // Between the scan and the removal, ~/.cache became a link to a folder
    // the user keeps elsewhere.
    QVERIFY(relinkCache(m_documents));
    QVERIFY(!act(FilePath(home), home + "/.cache/x").isEmpty());
    QVERIFY(!ScratchDir::exists(home + "/moved1"));

    // ~/.cache is a link to a folder on another disk, trusted: its caches can
    // be acted on, but only inside it, and a link below it is never followed,
    // nor a later change of the link itself.
    QVERIFY(relinkCache(disk));
    const TrustedRoots roots = TrustedRoots::resolved(*m_fs, {FilePath(home), FilePath(home + "/.cache")});
    QCOMPARE(act(roots, home + "/.cache/app"), QString());
    QVERIFY(!ScratchDir::exists(disk + "/app"));
    QVERIFY(!act(roots, home + "/.cache/swapped/x").isEmpty());
    QVERIFY(relinkCache(m_documents));
    QVERIFY(!act(roots, home + "/.cache/x").isEmpty());
    QCOMPARE(TreeInventory::take(m_documents).differencesFrom(documents), QStringList());
}

void TestTreeRemover::folderSwappedForALinkIsNotFollowed()
{
    const QByteArray tree = m_scratch->filePath("cache/tree");
    m_scratch->writeFile("Документы/диплом.docx", RepresentativeTree::content("диплом", 40000));
    m_scratch->makeDirectory("cache");
    QVERIFY(RepresentativeTree::create(tree, m_documents));
    const QByteArray parked = m_scratch->filePath("убрано-в-сторону");
    auto fs = std::make_shared<SwappingFileSystem>(tree + "/Отчёты/2024", parked, m_documents);
    const TreeInventory documents = TreeInventory::take(m_documents);

    const TreeRemover::Result result = TreeRemover(fs).remove(FilePath(tree));
    QVERIFY(fs->m_swapped);
    QVERIFY2(result.ok(), qPrintable(result.message()));
    QVERIFY(!ScratchDir::exists(tree));
    QCOMPARE(TreeInventory::take(m_documents).differencesFrom(documents), QStringList());
    QVERIFY(ScratchDir::exists(parked + "/итоги.txt"));
}

BRISKO_TEST(TestTreeRemover)
#include "tst_TreeRemover.moc"
