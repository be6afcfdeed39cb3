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

using namespace Qt::StringLiterals;

namespace {

constexpr WalkExclusionMode standard = WalkExclusionMode::standard;
constexpr WalkExclusionMode withLibrary = WalkExclusionMode::includeLibraryAndTrash;

// The paths a walk visits, relative to root ("<root>" for the root itself),
// with a trailing "/" on folders.
QStringList walk(const DirectoryWalker& walker, const QString& root, const AppSettings& settings,
                 int maxDepth, WalkExclusionMode mode = standard)
{
    QStringList visits;
    walker.walkSync(FilePath::fromString(root), settings, 0, maxDepth, mode, [&](const WalkEntry& e) {
        const QString p = QFile::decodeName(e.path).mid(root.size());
        visits.append((p.isEmpty() ? u"<root>"_s : p) + (e.isDirectory ? u"/"_s : QString()));
    });
    return visits;
}

qint64 allocated(const QString& path)
{
    return ScratchDir::allocatedSize(QFile::encodeName(path));
}

std::shared_ptr<PlatformFileSystem> platform()
{
    return std::make_shared<PlatformFileSystem>();
}

} // namespace

class TestDirectoryWalker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void exclusionRules_data();
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
    FilePath at(const QString& relative) const { return FilePath::fromString(m_home->filePath(relative)); }
    qint64 size(const DirectoryWalker& walker, const QString& relative, int depth,
                WalkExclusionMode mode = standard)
    {
        return walker.directorySize(at(relative), m_settings, depth, mode);
    }

    AppSettings m_settings;
    std::unique_ptr<TempHome> m_home;
};

void TestDirectoryWalker::init()
{
    m_home = std::make_unique<TempHome>();
    QVERIFY(m_home->isValid());
    m_settings = AppSettings::defaults(m_home->path());
}

void TestDirectoryWalker::exclusionRules_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("library");
    QTest::addColumn<bool>("excluded");
    const auto row = [](const char* path, bool library, bool excluded) {
        QTest::addRow("%s%s", path, library ? " with Library" : "")
            << QString::fromUtf8(path) << library << excluded;
    };
    row("/home/u/Library", false, true);
    row("/home/u/Library/Caches", false, true);
    row("/home/u/Projects/Library/x", false, true);
    row("/home/u/Library", true, false);
    row("/home/u/.Trash/a", true, false);
    row("/home/u/.Trash/a", false, true);
    row("/home/u/Library/Caches/x/node_modules", true, true);
    row("/home/u/.cache", true, true);
    row("/home/u/Libraryfoo", false, false);
    row("/home/u/MyLibrary", false, false);
    row("/home/u/library", false, false);
    // The volume guard holds in every mode and also matches inside a longer name.
    row("/Volumes/test", true, true);
    row("/mnt/Volumes/testing/a", false, true);
    // Patterns of the user's own replace the built-in ones.
    row("/h/Проекты/старые", false, true);
    row("/h/Library", false, false);
}

void TestDirectoryWalker::exclusionRules()
{
    QFETCH(QString, path);
    QFETCH(bool, library);
    QFETCH(bool, excluded);
    AppSettings settings = m_settings;
    if (path.startsWith(u"/h/")) {
        settings.excludedPaths = {u"Проекты/старые"_s};
    }
    QCOMPARE(DirectoryWalker::shouldExclude(FilePath::fromString(path), settings,
                                            library ? withLibrary : standard),
             excluded);
}

void TestDirectoryWalker::incrementalExclusionAgreesWithFullTest()
{
    // The walk tests only the newly added name of each child; over random
    // paths built from tricky components it must agree with the full test.
    AppSettings s = m_settings;
    s.excludedPaths.append(u"a/b"_s);
    s.excludedPaths.append(u"Vol"_s);
    const WalkExclusion exclusion(s, standard);
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
        // Names from a listing never hold a slash; parents may, through user patterns.
        QByteArray name = parts[rng.bounded(int(parts.size()))];
        name.replace('/', QByteArray());
        if (exclusion.excludes(parent) || name.isEmpty()) {
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
    for (const char* file : {"t/a/1.txt", "t/a/b/2.txt", "t/.hidden/3.txt", "t/.dotfile",
                             "t/node_modules/pkg/index.js", "t/Library/Caches/x"}) {
        m_home->makeFile(QString::fromUtf8(file), 10);
    }
    const DirectoryWalker walker(platform());
    QStringList seen = walk(walker, m_home->filePath(u"t"_s), m_settings, 10);
    QCOMPARE(seen.first(), u"<root>/"_s);
    // Every folder comes before its contents.
    for (int i = 1; i < seen.size(); ++i) {
        const QString parent = seen[i].section(u'/', 0, seen[i].endsWith(u'/') ? -3 : -2) + u'/';
        QVERIFY2(parent == u"/"_s || (seen.indexOf(parent) >= 0 && seen.indexOf(parent) < i),
                 qPrintable(seen[i]));
    }
    std::sort(seen.begin(), seen.end());
    QCOMPARE(seen, (QStringList{u"/a/"_s, u"/a/1.txt"_s, u"/a/b/"_s, u"/a/b/2.txt"_s, u"<root>/"_s}));

    // A hidden root is walked; its hidden children are not.
    m_home->makeFile(u".Trash/old.txt"_s, 10);
    m_home->makeFile(u".Trash/.DS_Store"_s, 10);
    const QString trash = m_home->filePath(u".Trash"_s);
    QCOMPARE(walk(walker, trash, m_settings, 3, withLibrary), (QStringList{u"<root>/"_s, u"/old.txt"_s}));
    QVERIFY(walk(walker, trash, m_settings, 3).isEmpty());

    // An excluded or missing root yields nothing at all.
    m_home->makeFile(u"Volumes/test/disk/file"_s, 100);
    QVERIFY(walk(walker, m_home->filePath(u"Volumes/test"_s), m_settings, 10).isEmpty());
    QCOMPARE(size(walker, u"Volumes/test"_s, 10, withLibrary), 0);
    QVERIFY(walk(walker, m_home->filePath(u"nope"_s), m_settings, 10).isEmpty());

    // Sizing: Library counts only in its mode, node_modules (a file of that name too) never.
    const QString a = m_home->makeFile(u"Library/Caches/app/blob"_s, 20000);
    m_home->makeFile(u"Library/Caches/app/node_modules/lib/big.js"_s, 500000);
    m_home->makeFile(u"Library/Caches/node_modules"_s, 500000);
    QCOMPARE(size(walker, u"Library/Caches"_s, 10), 0);
    QCOMPARE(size(walker, u"Library/Caches"_s, 10, withLibrary), allocated(a));
}

void TestDirectoryWalker::depthLimitAndAllocatedSizes()
{
    // d1/d2/d3/f3 : f3 has depth 4 below the root.
    const QString f3 = m_home->makeFile(u"r/d1/d2/d3/f3"_s, 5000);
    const QString f2 = m_home->makeFile(u"r/d1/d2/f2"_s, 3000);
    const DirectoryWalker walker(platform());
    QCOMPARE(size(walker, u"r"_s, 4), allocated(f3) + allocated(f2));
    QCOMPARE(size(walker, u"r"_s, 3), allocated(f2));
    QCOMPARE(size(walker, u"r"_s, 0), 0);
    QCOMPARE(walk(walker, m_home->filePath(u"r"_s), m_settings, 0).size(), 1);
    QCOMPARE(walk(walker, m_home->filePath(u"r"_s), m_settings, 3).size(), 5); // r, d1, d2, d3, f2
    // Starting deeper counts the start depth against the limit.
    int calls = 0;
    walker.walkSync(at(u"r"_s), m_settings, 2, 3, standard, [&](const WalkEntry&) { ++calls; });
    QCOMPARE(calls, 2); // r (2), d1 (3)
    walker.walkSync(at(u"r"_s), m_settings, 4, 3, standard, [&](const WalkEntry&) { ++calls; });
    QCOMPARE(calls, 2);

    // Sizes are the allocated space, of a file as the root too.
    const QString small = m_home->makeFile(u"s/small"_s, 10);
    auto fs = std::make_shared<FaultInjectingFileSystem>();
    const DirectoryWalker faked(fs);
    fs->setSizes(QFile::encodeName(small), 4096, 10);
    QCOMPARE(faked.fileSize(FilePath::fromString(small)), 4096);
    QCOMPARE(faked.fileSize(at(u"s/none"_s)), 0);
    QCOMPARE(size(faked, u"s"_s, 1), 4096);
    QCOMPARE(size(faked, u"s/small"_s, 1), 4096);
}

void TestDirectoryWalker::symbolicLinks()
{
    const QString target = m_home->makeFile(u"t/real/data.bin"_s, 40000);
    m_home->makeSymlink(m_home->filePath(u"t/real"_s), u"t/alias"_s);
    m_home->makeSymlink(m_home->filePath(u"t/missing"_s), u"t/dangling"_s);
    // A loop back to the top, and a way out of the home to the whole system.
    m_home->makeSymlink(m_home->filePath(u"t"_s), u"t/real/loop"_s);
    m_home->makeSymlink(u"/"_s, u"t/root"_s);
    const QString hard = m_home->makeFile(u"t/hard/one.bin"_s, 50000);
    QCOMPARE(::link(QFile::encodeName(hard).constData(), QFile::encodeName(hard + u".2"_s).constData()), 0);
    // Another file system that holds no user data (the test double says so).
    m_home->makeFile(u"t/proc-like/status"_s, 60000);
    auto fs = std::make_shared<FaultInjectingFileSystem>();
    fs->pretendPseudo(QFile::encodeName(m_home->filePath(u"t/proc-like"_s)));
    QMutex openedLock;
    QList<QByteArray> opened;
    fs->setOnOpen([&](const QByteArray& path) {
        QMutexLocker lock(&openedLock);
        opened.append(path);
    });
    const DirectoryWalker walker(fs, DirectoryWalker::defaultSizingThreads(), m_home->home());

    const QStringList seen = walk(walker, m_home->filePath(u"t"_s), m_settings, 8);
    // The folder reached by two names is walked once, whichever name comes first.
    QCOMPARE(seen.count(u"/alias/data.bin"_s) + seen.count(u"/real/data.bin"_s), 1);
    for (const QString& never :
         {u"/dangling"_s, u"/real/loop"_s, u"/alias/loop"_s, u"/root"_s, u"/proc-like/"_s}) {
        QVERIFY2(!seen.contains(never) && !seen.contains(never + u'/'), qPrintable(never));
    }

    // Sizes count each folder and each hard-linked file once, at any depth.
    for (int depth : {2, 4, 30}) {
        QCOMPARE(size(walker, u"t"_s, depth), allocated(target) + allocated(hard));
    }
    QCOMPARE(fs->openDescriptors(), 0);
    // Neither the walk nor the sizing opened anything through them.
    for (const QByteArray& path : opened) {
        QVERIFY2(!path.contains("/t/root") && !path.contains("/proc-like/"), path.constData());
    }

    // The link itself is not a directory by its own type.
    QVERIFY(!walker.isDirectory(at(u"t/alias"_s)));
    QVERIFY(walker.isDirectory(at(u"t/real"_s)));
    QVERIFY(!walker.isDirectory(at(u"t/nothing"_s)));
}

void TestDirectoryWalker::unreadableAndVanishingFolders()
{
    const QString keep1 = m_home->makeFile(u"w/a/keep1"_s, 9000);
    const QString keep2 = m_home->makeFile(u"w/c/keep2"_s, 7000);
    for (const char* lost : {"w/locked/secret", "w/broken/x", "w/gone/y"}) {
        m_home->makeFile(QString::fromUtf8(lost), 100000);
    }
    const QString root = m_home->filePath(u"w"_s);
    auto fs = std::make_shared<FaultInjectingFileSystem>();
    fs->failOpen(QFile::encodeName(root + u"/locked"_s));
    fs->failRead(QFile::encodeName(root + u"/broken"_s));
    // Another program deletes a folder while the walk is on its way to it.
    const QByteArray gone = QFile::encodeName(root + u"/gone"_s);
    fs->setOnOpen([gone](const QByteArray& path) {
        if (path == gone) {
            QDir(QFile::decodeName(gone)).removeRecursively();
        }
    });
    const DirectoryWalker walker(fs);
    QCOMPARE(size(walker, u"w"_s, 5), allocated(keep1) + allocated(keep2));
    QCOMPARE(fs->openDescriptors(), 0);

    const QStringList seen = walk(walker, root, m_settings, 5);
    QVERIFY(seen.contains(u"/locked/"_s) && seen.contains(u"/c/keep2"_s));
    QVERIFY(!seen.contains(u"/locked/secret"_s) && !seen.contains(u"/broken/x"_s));
    QCOMPARE(fs->openDescriptors(), 0);
}

void TestDirectoryWalker::nonUtf8NamesKeepTheirBytes()
{
    const QByteArray latin1Name("caf\xe9-\xff.mov");
    const FilePath odd = m_home->makeFileNative(QByteArray("n/\xd0\x9f\xd0\xb0\xd0\xbf\xd0\xba\xd0\xb0/") + latin1Name,
                                                12345);
    const DirectoryWalker walker(platform());
    bool found = false;
    walker.walkSync(m_home->nativePath("n"), m_settings, 0, 5, standard, [&](const WalkEntry& e) {
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
    QCOMPARE(walker.directorySize(m_home->nativePath("n"), m_settings, 5, standard), walker.fileSize(odd));
}

void TestDirectoryWalker::pathsLongerThanPathMax()
{
    // 20 levels of 240-byte names: about 4.8 kB of path, beyond PATH_MAX, built
    // relative to open folders as the walker itself works; removed the same way.
    const QByteArray name(240, 'd');
    const ScratchDir scratch;
    int fd = ::open(scratch.path().constData(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 20 && fd >= 0; ++level) {
        ::mkdirat(fd, name.constData(), 0755);
        const int next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    QVERIFY(fd >= 0);
    const int file = ::openat(fd, "deep.bin", O_WRONLY | O_CREAT, 0644);
    QCOMPARE(::write(file, "12345678", 8), ssize_t(8));
    ::close(file);
    ::close(fd);

    const DirectoryWalker walker(platform());
    int deepest = 0;
    qint64 deepSize = -1;
    walker.walkSync(scratch.nativePath(name), m_settings, 0, 25, standard, [&](const WalkEntry& e) {
        deepest = std::max<int>(deepest, int(e.path.size()));
        if (e.path.endsWith("/deep.bin")) {
            deepSize = walker.fileSize(e);
        }
    });
    QVERIFY(deepest > 4096);
    QVERIFY(deepSize > 0);
    QCOMPARE(walker.directorySize(scratch.nativePath(name), m_settings, 25, standard), deepSize);
}

void TestDirectoryWalker::parallelTotalEqualsSequentialSum()
{
    QRandomGenerator rng(7);
    qint64 expected = 0;
    for (int i = 0; i < 1500; ++i) {
        QString rel = u"big"_s;
        for (int d = 1 + int(rng.bounded(6)); d > 0; --d) {
            rel += u"/п%1"_s.arg(rng.bounded(4));
        }
        expected += allocated(m_home->makeFile(rel + u"/f%1"_s.arg(i), rng.bounded(9000)));
    }
    m_home->makeFile(u"big/.hidden/ignored"_s, 100000);
    auto fs = std::make_shared<FaultInjectingFileSystem>();
    for (int threads : {1, 2, 3, 8}) {
        QCOMPARE(size(DirectoryWalker(fs, threads), u"big"_s, 10), expected);
        QCOMPARE(fs->openDescriptors(), 0);
    }
    qint64 walked = 0;
    const DirectoryWalker walker(fs);
    walker.walkSync(at(u"big"_s), m_settings, 0, 10, standard,
                    [&](const WalkEntry& e) { walked += e.isDirectory ? 0 : walker.fileSize(e); });
    QCOMPARE(walked, expected);
}

void TestDirectoryWalker::walkDirectoryRunsOffTheCallingThread()
{
    m_home->makeFile(u"async/a/b/c.txt"_s, 10);
    const DirectoryWalker walker(platform());
    QThread* caller = QThread::currentThread();
    std::atomic<int> count{0};
    std::atomic<bool> onCaller{false};
    walker
        .walkDirectory(at(u"async"_s), m_settings, 10,
                       [&](const WalkEntry&) {
                           ++count;
                           onCaller = onCaller || QThread::currentThread() == caller;
                       })
        .waitForFinished();
    QCOMPARE(count.load(), 4);
    QVERIFY(!onCaller.load());
}

BRISKO_TEST(TestDirectoryWalker)
#include "tst_DirectoryWalker.moc"
