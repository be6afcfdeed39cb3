#include "BriskoTest.h"
#include "FaultInjectingFileSystem.h"
#include "ScratchDir.h"

#include "platform/PlatformFileSystem.h"
#include "scan/UsageWalker.h"

#include <QMap>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using Sizes = QMap<QByteArray, QPair<qint64, qint64>>;

// Every folder of the tree: size and entries by path.
Sizes folderSizes(const UsageTree& tree)
{
    Sizes sizes;
    for (UsageTree::Index i = 0; i < UsageTree::Index(tree.nodeCount()); ++i) {
        if (tree.isDirectory(i)) {
            sizes.insert(tree.path(i).native(), {tree.size(i), tree.entries(i)});
        }
    }
    return sizes;
}

// du's total of every folder below root, by path (paths kept as bytes).
QMap<QByteArray, qint64> duSizes(const QByteArray& root)
{
    QProcess du;
    du.start(u"du"_s, {u"-B1"_s, u"-0"_s, QString::fromUtf8(root)});
    du.waitForFinished(-1);
    QMap<QByteArray, qint64> sizes;
    for (const QByteArray& line : du.readAllStandardOutput().split('\0')) {
        const qsizetype tab = line.indexOf('\t');
        if (tab > 0) {
            sizes.insert(line.mid(tab + 1), line.left(tab).toLongLong());
        }
    }
    return sizes;
}

void makeSparseFile(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::pwrite(fd, "data", 4, 0), ssize_t(4));
    QCOMPARE(::ftruncate(fd, 64 << 20), 0);
    ::close(fd);
}

// A home-like tree with what a map must count like du: hidden folders,
// hard links, a sparse file, names that are not UTF-8 and links that loop.
void buildTree(ScratchDir& dir)
{
    dir.writeFile("Документы/отчёт.txt", QByteArray(10000, 'x'));
    dir.writeFile("Документы/Архив/старое.txt", QByteArray(70000, 'y'));
    dir.writeFile(".cache/thumbnails/a.png", QByteArray(9000, 'z'));
    dir.writeFile("Видео/\xff\xfe-клип.bin", QByteArray(5000, 'v'));
    dir.makeDirectory("Видео/\xc3\x28 папка");
    dir.writeFile("Видео/\xc3\x28 папка/x", QByteArray(300, 'w'));
    dir.makeDirectory("пусто");
    dir.writeFile("ссылки/один", QByteArray(20000, 'h'));
    QCOMPARE(::link(dir.filePath("ссылки/один").constData(), dir.filePath("ссылки/два").constData()), 0);
    makeSparseFile(dir.filePath("разреженный.img"));
    dir.makeLink(".", "петля/сам");
    dir.makeLink("..", "петля/вверх");
    dir.makeLink("/", "петля/корень");
    dir.makeLink("нет-такого", "петля/висячая");
}

} // namespace

class TestUsageWalker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void agreesWithDuOnEveryFolder_data();
    void agreesWithDuOnEveryFolder();
    void hardLinksAcrossFoldersCountOnce();
    void unreadableFolderKeepsTheRest();
    void refreshMatchesAFullWalk_data();
    void refreshMatchesAFullWalk();
    void cancelEndsTheWalkWithPartOfTheTree();
};

void TestUsageWalker::agreesWithDuOnEveryFolder_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("one thread") << 1;
    QTest::newRow("four threads") << 4;
}

void TestUsageWalker::agreesWithDuOnEveryFolder()
{
    QFETCH(int, threads);
    ScratchDir dir;
    buildTree(dir);
    const UsageTree tree = UsageWalker(std::make_shared<PlatformFileSystem>(), threads).walk(FilePath(dir.path()));

    QMap<QByteArray, qint64> ours;
    for (const auto& [path, size] : folderSizes(tree).asKeyValueRange()) {
        ours.insert(path, size.first);
    }
    QCOMPARE(ours, duSizes(dir.path()));

    // The sparse file counts its blocks, not its length; links count as
    // themselves and lead nowhere.
    const UsageTree::Index sparse = tree.find(dir.nativePath("разреженный.img"));
    QVERIFY(sparse != UsageTree::noNode);
    QVERIFY(tree.size(sparse) < (1 << 20));
    QCOMPARE(tree.entries(tree.find(dir.nativePath("петля"))), qint64(5));
    // Exact bytes of a name that is not UTF-8 lead back to the file.
    QCOMPARE(tree.path(tree.find(dir.nativePath("Видео/\xff\xfe-клип.bin"))).native(),
             dir.filePath("Видео/\xff\xfe-клип.bin"));
    // 12 files and links, 10 folders with the root.
    QCOMPARE(tree.entries(0), qint64(22));
    for (UsageTree::Index i = 0; i < UsageTree::Index(tree.nodeCount()); ++i) {
        const QList<UsageTree::Index> children = tree.largestChildren(i);
        for (qsizetype c = 1; c < children.size(); ++c) {
            QVERIFY(tree.size(children[c - 1]) >= tree.size(children[c]));
            QCOMPARE(tree.parent(children[c]), i);
        }
    }
}

void TestUsageWalker::hardLinksAcrossFoldersCountOnce()
{
    ScratchDir dir;
    dir.writeFile("a/file", QByteArray(50000, 'a'));
    dir.makeDirectory("b");
    QCOMPARE(::link(dir.filePath("a/file").constData(), dir.filePath("b/file").constData()), 0);
    const UsageTree tree = UsageWalker(std::make_shared<PlatformFileSystem>(), 4).walk(FilePath(dir.path()));
    // Which name is counted depends on who gets there first, as with du;
    // the common folder's total does not.
    QCOMPARE(tree.size(0), duSizes(dir.path()).value(dir.path()));
    const qint64 a = tree.size(tree.find(dir.nativePath("a")));
    const qint64 b = tree.size(tree.find(dir.nativePath("b")));
    QVERIFY(std::min(a, b) < 50000 && std::max(a, b) >= 50000);
}

void TestUsageWalker::unreadableFolderKeepsTheRest()
{
    ScratchDir dir;
    buildTree(dir);
    const UsageTree full = UsageWalker(std::make_shared<PlatformFileSystem>()).walk(FilePath(dir.path()));
    auto fs = std::make_shared<FaultInjectingFileSystem>();
    fs->failOpen(dir.filePath("Документы/Архив"));
    const UsageTree tree = UsageWalker(fs).walk(FilePath(dir.path()));

    const UsageTree::Index archive = tree.find(dir.nativePath("Документы/Архив"));
    QVERIFY(tree.isUnreadable(archive));
    QCOMPARE(tree.unreadableFolders(), qint64(1));
    QCOMPARE(tree.entries(archive), qint64(1));
    const UsageTree::Index fullArchive = full.find(dir.nativePath("Документы/Архив"));
    QCOMPARE(tree.size(0), full.size(0) - full.size(fullArchive) + tree.size(archive));
    QCOMPARE(tree.entries(0), full.entries(0) - 1);
    QCOMPARE(fs->openDescriptors(), 0);
}

void TestUsageWalker::refreshMatchesAFullWalk_data()
{
    QTest::addColumn<QByteArray>("changed");
    QTest::addColumn<QByteArray>("action");
    QTest::newRow("file removed") << QByteArray("Документы/отчёт.txt") << QByteArray("remove");
    QTest::newRow("folder removed") << QByteArray("Документы/Архив") << QByteArray("remove");
    QTest::newRow("top folder removed") << QByteArray("Видео") << QByteArray("remove");
    QTest::newRow("folder grown") << QByteArray("Документы/Архив") << QByteArray("grow");
    QTest::newRow("folder added") << QByteArray("Документы/Новое") << QByteArray("add");
    QTest::newRow("outside the tree") << QByteArray("../elsewhere") << QByteArray("none");
}

void TestUsageWalker::refreshMatchesAFullWalk()
{
    QFETCH(QByteArray, changed);
    QFETCH(QByteArray, action);
    ScratchDir dir;
    buildTree(dir);
    const UsageWalker walker(std::make_shared<PlatformFileSystem>());
    const UsageTree before = walker.walk(FilePath(dir.path()));
    if (action == "remove") {
        QVERIFY(ScratchDir::removeTree(dir.filePath(changed)));
    } else if (action == "grow") {
        dir.writeFile(changed + "/ещё/больше.bin", QByteArray(300000, 'g'));
    } else if (action == "add") {
        dir.writeFile(changed + "/файл", QByteArray(40000, 'n'));
    }
    const UsageTree refreshed = walker.refresh(before, dir.nativePath(changed));
    const UsageTree full = walker.walk(FilePath(dir.path()));
    QCOMPARE(folderSizes(refreshed), folderSizes(full));
    QCOMPARE(refreshed.nodeCount(), full.nodeCount());
    for (UsageTree::Index i = 1; i < UsageTree::Index(refreshed.nodeCount()); ++i) {
        QCOMPARE(refreshed.find(refreshed.path(i)), i);
    }
}

void TestUsageWalker::cancelEndsTheWalkWithPartOfTheTree()
{
    ScratchDir dir;
    for (int f = 0; f < 40; ++f) {
        dir.makeDirectory("d" + QByteArray::number(f));
        for (int i = 0; i < 400; ++i) {
            dir.writeFile("d" + QByteArray::number(f) + "/" + QByteArray::number(i), {});
        }
    }
    const UsageWalker walker(std::make_shared<PlatformFileSystem>(), 2);
    std::atomic<bool> cancel{false};
    std::atomic<qint64> reported{0};
    UsageWalker::Options options;
    options.cancel = &cancel;
    options.progress = [&](qint64 entries, qint64) {
        reported = entries;
        cancel = true;
    };
    const UsageTree partial = walker.walk(FilePath(dir.path()), options);
    QVERIFY(partial.wasCancelled());
    QVERIFY(reported.load() >= 8192);
    QVERIFY(partial.entries(0) < 40 * 401 + 1);

    const UsageTree whole = walker.walk(FilePath(dir.path()));
    QVERIFY(!whole.wasCancelled());
    QCOMPARE(whole.entries(0), qint64(40 * 401 + 1));
}

BRISKO_TEST(TestUsageWalker)
#include "tst_UsageWalker.moc"
