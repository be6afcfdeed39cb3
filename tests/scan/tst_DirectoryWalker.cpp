#include "BriskoTest.h"
#include "FaultInjectingFileSystem.h"
#include "ScratchDir.h"
#include "TempHome.h"

#include "model/AppSettings.h"
#include "platform/PlatformFileSystem.h"
#include "scan/DirectoryWalker.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Visit
{
    QByteArray path;
    bool isDirectory;
};

QList<Visit> walk(const DirectoryWalker& walker, const FilePath& root, const AppSettings& settings, int maxDepth,
                  WalkExclusionMode mode = WalkExclusionMode::standard)
{
    QList<Visit> visits;
    walker.walkSync(root, settings, 0, maxDepth, mode,
                    [&](const WalkEntry& e) { visits.append({e.path, e.isDirectory}); });
    return visits;
}

QStringList relativePaths(const QList<Visit>& visits, const QString& root)
{
    QStringList out;
    for (const Visit& v : visits) {
        QString p = QFile::decodeName(v.path);
        p.remove(0, root.size());
        out.append(p.isEmpty() ? QStringLiteral("<root>") : p);
    }
    return out;
}

qint64 allocated(const QString& path)
{
    return ScratchDir::allocatedSize(QFile::encodeName(path));
}

} // namespace

class TestDirectoryWalker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void exclusionRules();
    void incrementalExclusionAgreesWithFullTest();
    void preOrderSkipsHiddenAndExcluded();
    void depthLimitAndAllocatedSizes();
    void symbolicLinks();
    void unreadableAndVanishingFolders();
    void nonUtf8NamesKeepTheirBytes();
    void pathsLongerThanPathMax();
    void parallelTotalEqualsSequentialSum();
    void walkDirectoryRunsOffTheCallingThread();

private:
    AppSettings m_settings;
    std::unique_ptr<TempHome> m_home;
};

void TestDirectoryWalker::init()
{
    m_home = std::make_unique<TempHome>();
    QVERIFY(m_home->isValid());
    m_settings = AppSettings::defaults(m_home->path());
}

void TestDirectoryWalker::exclusionRules()
{
    const auto excluded = [&](const char* path, WalkExclusionMode mode = WalkExclusionMode::standard) {
        return DirectoryWalker::shouldExclude(FilePath(QByteArray(path)), m_settings, mode);
    };
    QVERIFY(excluded("/home/u/Library"));
    QVERIFY(excluded("/home/u/Library/Caches"));
    QVERIFY(excluded("/home/u/Projects/Library/x"));
    QVERIFY(!excluded("/home/u/Library", WalkExclusionMode::includeLibraryAndTrash));
    QVERIFY(!excluded("/home/u/.Trash/a", WalkExclusionMode::includeLibraryAndTrash));
    QVERIFY(excluded("/home/u/.Trash/a"));
    QVERIFY(excluded("/home/u/Library/Caches/x/node_modules", WalkExclusionMode::includeLibraryAndTrash));
    QVERIFY(excluded("/home/u/.cache", WalkExclusionMode::includeLibraryAndTrash));
    QVERIFY(!excluded("/home/u/Libraryfoo"));
    QVERIFY(!excluded("/home/u/MyLibrary"));
    QVERIFY(!excluded("/home/u/library"));
    // The volume guard holds in every mode and also matches inside a longer name.
    QVERIFY(excluded("/Volumes/test", WalkExclusionMode::includeLibraryAndTrash));
    QVERIFY(excluded("/mnt/Volumes/testing/a"));

    AppSettings custom = m_settings;
    custom.excludedPaths = {QStringLiteral("Проекты/старые")};
    QVERIFY(DirectoryWalker::shouldExclude(FilePath::fromString(QStringLiteral("/h/Проекты/старые")), custom,
                                           WalkExclusionMode::standard));
    QVERIFY(!DirectoryWalker::shouldExclude(FilePath::fromString(QStringLiteral("/h/Library")), custom,
                                            WalkExclusionMode::standard));

    // Walking: Library counts only in its mode, node_modules never.
    const QString a = m_home->makeFile(QStringLiteral("Library/Caches/app/blob"), 20000);
    m_home->makeFile(QStringLiteral("Library/Caches/app/node_modules/lib/big.js"), 500000);
    // A file of that name is excluded too.
    m_home->makeFile(QStringLiteral("Library/Caches/node_modules"), 500000);
    const FilePath caches = FilePath::fromString(m_home->filePath(QStringLiteral("Library/Caches")));
    const DirectoryWalker walker(std::make_shared<PlatformFileSystem>());
    QCOMPARE(walker.directorySize(caches, m_settings, 10, WalkExclusionMode::standard), 0);
    QCOMPARE(walker.directorySize(caches, m_settings, 10, WalkExclusionMode::includeLibraryAndTrash), allocated(a));
}

void TestDirectoryWalker::incrementalExclusionAgreesWithFullTest()
{
    // The walk tests only the newly added name of each child; over random
    // paths built from tricky components it must agree with the full test.
    AppSettings s = m_settings;
    s.excludedPaths.append(QStringLiteral("a/b"));
    s.excludedPaths.append(QStringLiteral("Vol"));
    const WalkExclusion exclusion(s, WalkExclusionMode::standard);
    const QList<QByteArray> parts = {"Volumes", "test",  "testing", "a",     "b",   "a/b", "Library",
                                     "x",       "Vol",   "umes",    "/Volu", "mes", "te",  "st"};
    QRandomGenerator rng(42);
    int checked = 0;
    for (int i = 0; i < 20000; ++i) {
        QByteArray parent;
        const int n = 1 + int(rng.bounded(5));
        for (int k = 0; k < n; ++k) {
            parent += '/' + parts[rng.bounded(int(parts.size()))];
        }
        if (exclusion.excludes(parent)) {
            continue;
        }
        // Names from a listing never hold a slash; parents may, through user patterns.
        QByteArray name = parts[rng.bounded(int(parts.size()))];
        name.replace('/', QByteArray());
        if (name.isEmpty()) {
            continue;
        }
        const QByteArray child = parent + '/' + name;
        QCOMPARE(exclusion.excludesChild(child, parent.size()), exclusion.excludes(child));
        ++checked;
    }
    QVERIFY(checked > 1000);
}

void TestDirectoryWalker::preOrderSkipsHiddenAndExcluded()
{
    m_home->makeFile(QStringLiteral("t/a/1.txt"), 10);
    m_home->makeFile(QStringLiteral("t/a/b/2.txt"), 10);
    m_home->makeFile(QStringLiteral("t/.hidden/3.txt"), 10);
    m_home->makeFile(QStringLiteral("t/.dotfile"), 10);
    m_home->makeFile(QStringLiteral("t/node_modules/pkg/index.js"), 10);
    m_home->makeFile(QStringLiteral("t/Library/Caches/x"), 10);
    const QString root = m_home->filePath(QStringLiteral("t"));
    const DirectoryWalker walker(std::make_shared<PlatformFileSystem>());

    const QList<Visit> visits = walk(walker, FilePath::fromString(root), m_settings, 10);
    QStringList seen = relativePaths(visits, root);
    QCOMPARE(seen.first(), QStringLiteral("<root>"));
    QVERIFY(visits.first().isDirectory);
    // Every folder comes before its contents.
    for (int i = 0; i < seen.size(); ++i) {
        const QString parent = seen[i].section(QLatin1Char('/'), 0, -2);
        if (!parent.isEmpty()) {
            QVERIFY2(seen.indexOf(parent) >= 0 && seen.indexOf(parent) < i, qPrintable(seen[i]));
        }
    }
    std::sort(seen.begin(), seen.end());
    QCOMPARE(seen, (QStringList{QStringLiteral("/a"), QStringLiteral("/a/1.txt"), QStringLiteral("/a/b"),
                                QStringLiteral("/a/b/2.txt"), QStringLiteral("<root>")}));

    // A hidden root is walked; its hidden children are not.
    m_home->makeFile(QStringLiteral(".Trash/old.txt"), 10);
    m_home->makeFile(QStringLiteral(".Trash/.DS_Store"), 10);
    const QString trash = m_home->filePath(QStringLiteral(".Trash"));
    QCOMPARE(relativePaths(walk(walker, FilePath::fromString(trash), m_settings, 3,
                                WalkExclusionMode::includeLibraryAndTrash),
                           trash),
             (QStringList{QStringLiteral("<root>"), QStringLiteral("/old.txt")}));
    QVERIFY(walk(walker, FilePath::fromString(trash), m_settings, 3).isEmpty());

    // An excluded or missing root yields nothing at all.
    m_home->makeFile(QStringLiteral("Volumes/test/disk/file"), 100);
    const FilePath guarded = FilePath::fromString(m_home->filePath(QStringLiteral("Volumes/test")));
    QVERIFY(walk(walker, guarded, m_settings, 10).isEmpty());
    QCOMPARE(walker.directorySize(guarded, m_settings, 10, WalkExclusionMode::includeLibraryAndTrash), 0);
    QVERIFY(walk(walker, FilePath::fromString(m_home->filePath(QStringLiteral("nope"))), m_settings, 10).isEmpty());
}

void TestDirectoryWalker::depthLimitAndAllocatedSizes()
{
    // d1/d2/d3/f3 : f3 has depth 4 below the root.
    const QString f3 = m_home->makeFile(QStringLiteral("r/d1/d2/d3/f3"), 5000);
    const QString f2 = m_home->makeFile(QStringLiteral("r/d1/d2/f2"), 3000);
    const FilePath root = FilePath::fromString(m_home->filePath(QStringLiteral("r")));
    const DirectoryWalker walker(std::make_shared<PlatformFileSystem>());
    QCOMPARE(walker.directorySize(root, m_settings, 4, WalkExclusionMode::standard), allocated(f3) + allocated(f2));
    QCOMPARE(walker.directorySize(root, m_settings, 3, WalkExclusionMode::standard), allocated(f2));
    QCOMPARE(walker.directorySize(root, m_settings, 0, WalkExclusionMode::standard), 0);
    QCOMPARE(walk(walker, root, m_settings, 0).size(), 1);
    QCOMPARE(walk(walker, root, m_settings, 3).size(), 5); // r, d1, d2, d3, f2
    // Starting deeper counts the start depth against the limit.
    int calls = 0;
    walker.walkSync(root, m_settings, 2, 3, WalkExclusionMode::standard, [&](const WalkEntry&) { ++calls; });
    QCOMPARE(calls, 2); // r (2), d1 (3)
    walker.walkSync(root, m_settings, 4, 3, WalkExclusionMode::standard, [&](const WalkEntry&) { ++calls; });
    QCOMPARE(calls, 2);

    // Sizes are the allocated space, of a file as the root too.
    const QString small = m_home->makeFile(QStringLiteral("s/small"), 10);
    auto fs = std::make_shared<FaultInjectingFileSystem>();
    const DirectoryWalker faked(fs);
    fs->setSizes(QFile::encodeName(small), 4096, 10);
    QCOMPARE(faked.fileSize(FilePath::fromString(small)), 4096);
    QCOMPARE(faked.fileSize(FilePath::fromString(m_home->filePath(QStringLiteral("s/none")))), 0);
    QCOMPARE(faked.directorySize(FilePath::fromString(m_home->filePath(QStringLiteral("s"))), m_settings, 1,
                                 WalkExclusionMode::standard),
             4096);
    QCOMPARE(faked.directorySize(FilePath::fromString(small), m_settings, 1, WalkExclusionMode::standard), 4096);
}

void TestDirectoryWalker::symbolicLinks()
{
    const QString target = m_home->makeFile(QStringLiteral("t/real/data.bin"), 40000);
    m_home->makeSymlink(m_home->filePath(QStringLiteral("t/real")), QStringLiteral("t/alias"));
    m_home->makeSymlink(m_home->filePath(QStringLiteral("t/missing")), QStringLiteral("t/dangling"));
    // A loop back to the top, and a way out of the home to the whole system.
    m_home->makeSymlink(m_home->filePath(QStringLiteral("t")), QStringLiteral("t/real/loop"));
    m_home->makeSymlink(QStringLiteral("/"), QStringLiteral("t/root"));
    const QString hard = m_home->makeFile(QStringLiteral("t/hard/one.bin"), 50000);
    QCOMPARE(::link(QFile::encodeName(hard).constData(), QFile::encodeName(hard + QStringLiteral(".2")).constData()), 0);
    // Another file system that holds no user data (the test double says so).
    m_home->makeFile(QStringLiteral("t/proc-like/status"), 60000);
    const FilePath root = FilePath::fromString(m_home->filePath(QStringLiteral("t")));
    auto fs = std::make_shared<FaultInjectingFileSystem>();
    fs->pretendPseudo(QFile::encodeName(m_home->filePath(QStringLiteral("t/proc-like"))));
    QMutex openedLock;
    QList<QByteArray> opened;
    fs->setOnOpen([&](const QByteArray& path) {
        QMutexLocker lock(&openedLock);
        opened.append(path);
    });
    const DirectoryWalker walker(fs, DirectoryWalker::defaultSizingThreads(), m_home->home());

    const QList<Visit> visits = walk(walker, root, m_settings, 8);
    const QStringList seen = relativePaths(visits, m_home->filePath(QStringLiteral("t")));
    // The folder reached by two names is walked once, whichever name comes first.
    QCOMPARE(seen.count(QStringLiteral("/alias/data.bin")) + seen.count(QStringLiteral("/real/data.bin")), 1);
    QVERIFY(!seen.contains(QStringLiteral("/dangling")));
    QVERIFY(!seen.contains(QStringLiteral("/real/loop")) && !seen.contains(QStringLiteral("/alias/loop")));
    QVERIFY(!seen.contains(QStringLiteral("/root")));
    QVERIFY(!seen.contains(QStringLiteral("/proc-like")));

    // Sizes count each folder and each hard-linked file once, at any depth.
    const qint64 expected = allocated(target) + allocated(hard);
    for (int depth : {2, 4, 30}) {
        QCOMPARE(walker.directorySize(root, m_settings, depth, WalkExclusionMode::standard), expected);
    }
    QCOMPARE(fs->openDescriptors(), 0);
    // Neither the walk nor the sizing opened anything through them.
    for (const QByteArray& path : opened) {
        QVERIFY2(!path.contains("/t/root") && !path.contains("/proc-like/"), path.constData());
    }

    // The link itself is not a directory by its own type.
    QVERIFY(!walker.isDirectory(FilePath::fromString(m_home->filePath(QStringLiteral("t/alias")))));
    QVERIFY(walker.isDirectory(FilePath::fromString(m_home->filePath(QStringLiteral("t/real")))));
    QVERIFY(!walker.isDirectory(FilePath::fromString(m_home->filePath(QStringLiteral("t/nothing")))));
}

void TestDirectoryWalker::unreadableAndVanishingFolders()
{
    const QString keep1 = m_home->makeFile(QStringLiteral("w/a/keep1"), 9000);
    const QString keep2 = m_home->makeFile(QStringLiteral("w/c/keep2"), 7000);
    m_home->makeFile(QStringLiteral("w/locked/secret"), 100000);
    m_home->makeFile(QStringLiteral("w/broken/x"), 100000);
    m_home->makeFile(QStringLiteral("w/gone/y"), 100000);
    const QString root = m_home->filePath(QStringLiteral("w"));
    auto fs = std::make_shared<FaultInjectingFileSystem>();
    fs->failOpen(QFile::encodeName(root + QStringLiteral("/locked")));
    fs->failRead(QFile::encodeName(root + QStringLiteral("/broken")));
    // Another program deletes a folder while the walk is on its way to it.
    const QByteArray gone = QFile::encodeName(root + QStringLiteral("/gone"));
    fs->setOnOpen([gone](const QByteArray& path) {
        if (path == gone) {
            QDir(QFile::decodeName(gone)).removeRecursively();
        }
    });
    const DirectoryWalker walker(fs);
    QCOMPARE(walker.directorySize(FilePath::fromString(root), m_settings, 5, WalkExclusionMode::standard),
             allocated(keep1) + allocated(keep2));
    QCOMPARE(fs->openDescriptors(), 0);

    const QStringList seen = relativePaths(walk(walker, FilePath::fromString(root), m_settings, 5), root);
    QVERIFY(seen.contains(QStringLiteral("/locked")));
    QVERIFY(!seen.contains(QStringLiteral("/locked/secret")));
    QVERIFY(!seen.contains(QStringLiteral("/broken/x")));
    QVERIFY(seen.contains(QStringLiteral("/c/keep2")));
    QCOMPARE(fs->openDescriptors(), 0);
}

void TestDirectoryWalker::nonUtf8NamesKeepTheirBytes()
{
    const QByteArray latin1Name("caf\xe9-\xff.mov");
    const FilePath odd = m_home->makeFileNative(QByteArray("n/\xd0\x9f\xd0\xb0\xd0\xbf\xd0\xba\xd0\xb0/") + latin1Name,
                                                12345);
    const FilePath root = m_home->nativePath("n");
    const DirectoryWalker walker(std::make_shared<PlatformFileSystem>());
    bool found = false;
    walker.walkSync(root, m_settings, 0, 5, WalkExclusionMode::standard, [&](const WalkEntry& e) {
        if (e.path.endsWith(latin1Name)) {
            found = true;
            QCOMPARE(e.path, odd.native());
            QCOMPARE(walker.fileSize(e), walker.fileSize(FilePath(e.path)));
            QVERIFY(walker.fileSize(e) >= 12345);
        }
    });
    QVERIFY(found);
    // A QString round trip would not reach the file; the native path does.
    QVERIFY(FilePath::fromString(odd.toString()) != odd);
    QCOMPARE(walker.directorySize(root, m_settings, 5, WalkExclusionMode::standard), walker.fileSize(odd));
}

void TestDirectoryWalker::pathsLongerThanPathMax()
{
    // 20 levels of 240-byte names: about 4.8 kB of path, beyond PATH_MAX, built
    // relative to open folders as the walker itself works.
    const QByteArray name(240, 'd');
    // Removed by descriptors, as nothing else reaches below PATH_MAX.
    const ScratchDir scratch;
    int fd = ::open(scratch.path().constData(), O_RDONLY | O_DIRECTORY);
    QVERIFY(fd >= 0);
    for (int level = 0; level < 20; ++level) {
        QCOMPARE(::mkdirat(fd, name.constData(), 0755), 0);
        const int next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        QVERIFY(fd >= 0);
    }
    const int file = ::openat(fd, "deep.bin", O_WRONLY | O_CREAT, 0644);
    QVERIFY(file >= 0);
    QCOMPARE(::write(file, "12345678", 8), ssize_t(8));
    ::close(file);
    ::close(fd);

    const DirectoryWalker walker(std::make_shared<PlatformFileSystem>());
    const FilePath root = scratch.nativePath(name);
    int deepest = 0;
    qint64 deepSize = -1;
    walker.walkSync(root, m_settings, 0, 25, WalkExclusionMode::standard, [&](const WalkEntry& e) {
        deepest = std::max<int>(deepest, int(e.path.size()));
        if (e.path.endsWith("/deep.bin")) {
            deepSize = walker.fileSize(e);
        }
    });
    QVERIFY(deepest > 4096);
    QVERIFY(deepSize > 0);
    QCOMPARE(walker.directorySize(root, m_settings, 25, WalkExclusionMode::standard), deepSize);
}

void TestDirectoryWalker::parallelTotalEqualsSequentialSum()
{
    QRandomGenerator rng(7);
    qint64 expected = 0;
    for (int i = 0; i < 1500; ++i) {
        QString rel = QStringLiteral("big");
        const int depth = 1 + int(rng.bounded(6));
        for (int d = 0; d < depth; ++d) {
            rel += QStringLiteral("/п%1").arg(rng.bounded(4));
        }
        rel += QStringLiteral("/f%1").arg(i);
        const QString path = m_home->makeFile(rel, rng.bounded(9000));
        expected += allocated(path);
    }
    m_home->makeFile(QStringLiteral("big/.hidden/ignored"), 100000);
    const FilePath root = FilePath::fromString(m_home->filePath(QStringLiteral("big")));
    auto fs = std::make_shared<FaultInjectingFileSystem>();
    for (int threads : {1, 2, 3, 8}) {
        const DirectoryWalker walker(fs, threads);
        QCOMPARE(walker.directorySize(root, m_settings, 10, WalkExclusionMode::standard), expected);
        QCOMPARE(fs->openDescriptors(), 0);
    }
    qint64 walked = 0;
    const DirectoryWalker walker(fs);
    walker.walkSync(root, m_settings, 0, 10, WalkExclusionMode::standard, [&](const WalkEntry& e) {
        if (!e.isDirectory) {
            walked += walker.fileSize(e);
        }
    });
    QCOMPARE(walked, expected);
}

void TestDirectoryWalker::walkDirectoryRunsOffTheCallingThread()
{
    m_home->makeFile(QStringLiteral("async/a/b/c.txt"), 10);
    const DirectoryWalker walker(std::make_shared<PlatformFileSystem>());
    QThread* caller = QThread::currentThread();
    std::atomic<int> count{0};
    std::atomic<bool> onCaller{false};
    QFuture<void> done = walker.walkDirectory(FilePath::fromString(m_home->filePath(QStringLiteral("async"))),
                                              m_settings, 10, [&](const WalkEntry&) {
                                                  ++count;
                                                  if (QThread::currentThread() == caller) {
                                                      onCaller = true;
                                                  }
                                              });
    done.waitForFinished();
    QCOMPARE(count.load(), 4);
    QVERIFY(!onCaller.load());
}

BRISKO_TEST(TestDirectoryWalker)
#include "tst_DirectoryWalker.moc"
