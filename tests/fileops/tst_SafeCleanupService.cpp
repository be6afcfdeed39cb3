#include "BriskoTest.h"
#include "TestValues.h"
#include "FaultInjectingFileSystem.h"
#include "RepresentativeTree.h"
#include "ScratchDir.h"
#include "TreeInventory.h"

#include "fileops/SafeCleanupService.h"
#include "scan/HomeLayout.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QSet>
#include <QTest>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

struct ProgressCall
{
    QString message;
    double fraction;

    bool operator==(const ProgressCall& other) const = default;
};

char* toString(const ProgressCall& call)
{
    return QTest::toString(call.message + u" @ "_s + QString::number(call.fraction));
}

QSet<QByteArray> keysOf(const TreeInventory& inventory)
{
    const QList<QByteArray> keys = inventory.entries().keys();
    return QSet<QByteArray>(keys.cbegin(), keys.cend());
}

// A removal that failed once and went on with everything else leaves one
// entry X, the folders above it, and either all of X's original contents (X
// could not be entered) or none of them (X itself could not go).
bool isOneFailureLeft(const QSet<QByteArray>& left, const QSet<QByteArray>& original)
{
    for (const QByteArray& x : left) {
        QSet<QByteArray> alone{QByteArray(), x};
        for (qsizetype slash = x.indexOf('/'); slash > 0; slash = x.indexOf('/', slash + 1)) {
            alone.insert(x.left(slash));
        }
        QSet<QByteArray> withContents = alone;
        for (const QByteArray& entry : original) {
            if (x.isEmpty() || entry.startsWith(x + '/')) {
                withContents.insert(entry);
            }
        }
        if (left == alone || left == withContents) {
            return true;
        }
    }
    return false;
}

} // namespace

class TestSafeCleanupService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void listsSafeCachesLargestFirst();
    void listsOnlyWhatTheClassifierRatesSafe();
    void listsTheFreedesktopCachesOfEachApplication();
    void directorySizeHasNoDepthLimitAndNeverFollowsLinks();
    void cleanupDeletesTheSelectedSafeCandidates();
    void nothingSelectedDoesNothingAndStopEndsTheRun();
    void everyKindOfRowGoesAndLinksGoAsLinks();
    void failureAtEveryOperation_data();
    void failureAtEveryOperation();

private:
    // A small real file that the file system reports with the given size.
    QByteArray sized(const QByteArray& relative, qint64 bytes)
    {
        const QByteArray path = m_home->writeFile(relative, "x");
        m_fs->setSizes(path, bytes, bytes);
        return path;
    }
    SafeCleanupCandidate candidate(const QByteArray& relative, const QString& label, qint64 size,
                                   CacheRisk risk = CacheRisk::safe, bool selected = true) const
    {
        return {QUuid::createUuid(), m_home->nativePath(relative), label, size, risk, selected};
    }
    SafeCleanupResult run(const SafeCleanupCandidateList& candidates,
                          QList<ProgressCall>* calls = nullptr) const
    {
        return m_service->cleanup(candidates, [calls](const QString& message, double fraction) {
            if (calls) {
                calls->append({message, fraction});
            }
        });
    }

    std::unique_ptr<ScratchDir> m_home;
    std::shared_ptr<FaultInjectingFileSystem> m_fs;
    std::unique_ptr<SafeCleanupService> m_service;
};

void TestSafeCleanupService::init()
{
    m_home = std::make_unique<ScratchDir>();
    QVERIFY(m_home->isValid());
    m_fs = std::make_shared<FaultInjectingFileSystem>();
    m_service = std::make_unique<SafeCleanupService>(m_fs);
}

void TestSafeCleanupService::listsSafeCachesLargestFirst()
{
    sized("Library/Caches/com.apple.Safari/a.db", 3 * MiB);
    sized("Library/Caches/com.apple.Safari/WebKit/b.db", 2 * MiB);
    sized("Library/Caches/com.google.Chrome/Default/Cache/data_1", 2 * MiB);
    sized("Library/Caches/com.microsoft.VSCode/CachedData/x.bin", 2 * MiB);
    // Deep below the folder everything counts; hidden entries count nothing.
    sized("Library/Caches/ru.keepcoder.Telegram/1/2/3/4/5/6/7/8/9/10/11/12/media.bin", 3 * MiB);
    sized("Library/Caches/ru.keepcoder.Telegram/.tmp-upload", 500 * MiB);
    sized("Library/Caches/ru.keepcoder.Telegram/.db/postbox.sqlite", 500 * MiB);
    sized("Library/Caches/com.spotify.client/Storage/small.file", 10 * 1024);
    sized("Library/Caches/pip/http/wheel.bin", MiB + 5);
    // Only folders above one mebibyte are listed.
    sized("Library/Caches/Homebrew/downloads/a.tar.gz", MiB / 2);
    sized("Library/Caches/Homebrew/downloads/b.tar.gz", MiB / 2);
    // Xcode is absent; the Opera GX entry is a file, not a folder.
    sized("Library/Caches/com.operasoftware.OperaGX", 50 * MiB);
    // A link is not listed even when it leads to a large folder.
    sized("Elsewhere/reports/huge.ips", 50 * MiB);
    m_home->makeDirectory("Library/Logs");
    m_home->makeLink(m_home->filePath("Elsewhere/reports"), "Library/Logs/DiagnosticReports");

    const SafeCleanupCandidateList candidates = m_service->scan(HomeLayout::original(FilePath(m_home->path())));

    QStringList listed;
    QSet<QUuid> ids;
    for (const SafeCleanupCandidate& c : candidates) {
        listed.append(c.label + u' ' + QString::number(c.size));
        ids.insert(c.id);
        QVERIFY(!c.id.isNull() && c.isSelected);
        QCOMPARE(c.risk, CacheRisk::safe);
    }
    // Equal sizes keep the order of the table: Chrome before VS Code.
    QCOMPARE(listed,
             (QStringList{u"Safari %1"_s.arg(5 * MiB), u"Telegram %1"_s.arg(3 * MiB),
                          u"Chrome %1"_s.arg(2 * MiB), u"VS Code %1"_s.arg(2 * MiB),
                          u"pip %1"_s.arg(MiB + 5)}));
    QCOMPARE(ids.size(), candidates.size());
    QCOMPARE(candidates.at(0).path, m_home->nativePath("Library/Caches/com.apple.Safari"));
    QCOMPARE(candidates.at(3).path, m_home->nativePath("Library/Caches/com.microsoft.VSCode"));
    QCOMPARE(m_service->directorySize(m_home->nativePath("Library/Caches/Homebrew")), MiB);
}

void TestSafeCleanupService::listsOnlyWhatTheClassifierRatesSafe()
{
    // Below a protected location every path is forbidden, table folders included.
    const QByteArray protectedHome = m_home->makeDirectory("Library/Mail/u");
    sized("Library/Mail/u/Library/Caches/pip/big.bin", 10 * MiB);
    sized("Library/Mail/u/Library/Logs/DiagnosticReports/crash.ips", 10 * MiB);
    QVERIFY(m_service->scan(HomeLayout::original(FilePath(protectedHome))).isEmpty());

    // The same folders under an ordinary home are listed.
    sized("u/Library/Caches/pip/big.bin", 10 * MiB);
    sized("u/Library/Logs/DiagnosticReports/crash.ips", 10 * MiB);
    QCOMPARE(m_service->scan(HomeLayout::original(m_home->nativePath("u"))).size(), 2);
}

void TestSafeCleanupService::listsTheFreedesktopCachesOfEachApplication()
{
    sized(".cache/pip/http/wheel.bin", 3 * MiB);
    sized(".npm/_cacache/content-v2/blob", 2 * MiB);
    // One row per application below a wildcard, in name order.
    sized(".var/app/org.gimp.GIMP/cache/gegl/tile", 4 * MiB);
    sized(".var/app/com.spotify.Client/cache/data", 4 * MiB);
    sized(".var/app/com.spotify.Client/data/keep", 40 * MiB);
    // A Library cache means nothing here.
    sized("Library/Caches/pip/wheel.bin", 9 * MiB);

    const HomeLayout layout = HomeLayout::freedesktop(FilePath(m_home->path()), QProcessEnvironment());
    QStringList found;
    for (const SafeCleanupCandidate& c : m_service->scan(layout)) {
        found.append(c.label + u' ' + QFile::decodeName(c.path.native().mid(m_home->path().size() + 1)));
    }
    QCOMPARE(found,
             (QStringList{u"Flatpak .var/app/com.spotify.Client/cache"_s,
                          u"Flatpak .var/app/org.gimp.GIMP/cache"_s, u"pip .cache/pip"_s,
                          u"npm .npm/_cacache"_s}));
}

void TestSafeCleanupService::directorySizeHasNoDepthLimitAndNeverFollowsLinks()
{
    QByteArray deep = "cache";
    for (int level = 1; level <= 40; ++level) {
        deep += "/" + QByteArray::number(level);
    }
    sized(deep + "/bottom.bin", 7000);
    sized("cache/top.bin", 300);
    sized("cache/Кэш \xff\xfe/inner.bin", 20);
    sized("cache/.hidden.bin", 100000);
    sized("cache/.hidden-folder/inside.bin", 100000);
    sized("cache/1/.also-hidden/inside.bin", 100000);
    m_home->makeDirectory("cache/empty");
    sized("Documents/thesis.pdf", 80 * MiB);
    const QByteArray link = m_home->makeLink(m_home->filePath("Documents"), "cache/documents");
    m_fs->setSizes(link, 7, 7);
    // Hidden entries count nothing; a link counts itself, not what it leads to.
    QCOMPARE(m_service->directorySize(m_home->nativePath("cache")), 7327);
    // A folder that is itself a link, a file or nothing cannot be measured.
    QCOMPARE(m_service->directorySize(FilePath(link)), 0);
    QCOMPARE(m_service->directorySize(m_home->nativePath("missing")), 0);
    QCOMPARE(m_service->directorySize(m_home->nativePath("cache/top.bin")), 0);

    // Real sizes: the space taken on disk, not the length.
    const QByteArray real = m_home->writeFile("real/ten.txt", "0123456789");
    struct stat st;
    QCOMPARE(::lstat(real.constData(), &st), 0);
    QCOMPARE(m_service->directorySize(m_home->nativePath("real")), qint64(st.st_blocks) * 512);
}

void TestSafeCleanupService::cleanupDeletesTheSelectedSafeCandidates()
{
    sized("Library/Caches/com.google.Chrome/Cache/data_0", 3 * MiB);
    sized("Library/Caches/com.google.Chrome/Cache/data_1", 1 * MiB);
    sized("Library/Caches/pip/wheels/w.whl", 2 * MiB);
    sized("Library/Caches/com.example.tool/x.bin", 2 * MiB);
    const SafeCleanupCandidateList candidates{
        // Listed at 10 MiB; 4 MiB are there when it goes.
        candidate("Library/Caches/com.google.Chrome", u"Chrome"_s, 10 * MiB),
        candidate("Library/Caches/pip", u"pip"_s, 2 * MiB, CacheRisk::safe, false),
        candidate("Library/Caches/com.example.tool", u"Инструмент"_s, 2 * MiB, CacheRisk::caution),
        // Gone since the scan.
        candidate("Library/Caches/com.spotify.client", u"Spotify"_s, 5 * MiB),
    };
    QList<ProgressCall> calls;

    const SafeCleanupResult result = run(candidates, &calls);

    QCOMPARE(result.deleted, 1);
    QCOMPARE(result.failed, 2);
    QCOMPARE(result.freedBytes, 4 * MiB);
    QCOMPARE(result.errors,
             (QStringList{u"Инструмент: не безопасно для автоудаления"_s,
                          u"Spotify: "_s + platformText(ENOENT)}));
    QCOMPARE(calls,
             (QList<ProgressCall>{{u"Очистка Chrome…"_s, 0.0},
                                  {u"Очистка Инструмент…"_s, 1.0 / 3},
                                  {u"Очистка Spotify…"_s, 2.0 / 3},
                                  {u"Готово"_s, 1.0}}));
    QVERIFY(!ScratchDir::exists(m_home->filePath("Library/Caches/com.google.Chrome")));
    QVERIFY(ScratchDir::exists(m_home->filePath("Library/Caches/pip/wheels/w.whl")));
    QVERIFY(ScratchDir::exists(m_home->filePath("Library/Caches/com.example.tool/x.bin")));
    QVERIFY(ScratchDir::exists(m_home->filePath("Library/Caches")));
}

void TestSafeCleanupService::nothingSelectedDoesNothingAndStopEndsTheRun()
{
    sized("Library/Caches/com.google.Chrome/Cache/data_0", 3 * MiB);
    sized("Library/Caches/pip/wheels/w.whl", 2 * MiB);
    const SafeCleanupCandidate pip = candidate("Library/Caches/pip", u"pip"_s, 2 * MiB);
    QList<ProgressCall> calls;
    QCOMPARE(run({}, &calls), SafeCleanupResult{});
    QCOMPARE(run({candidate("Library/Caches/pip", u"pip"_s, 2 * MiB, CacheRisk::safe, false)}, &calls),
             SafeCleanupResult{});
    QVERIFY(calls.isEmpty());
    QCOMPARE(m_fs->operationCount(), 0);

    // The stop arrives while the first candidate is being removed.
    int asked = 0;
    const SafeCleanupResult result =
        m_service->cleanup({candidate("Library/Caches/com.google.Chrome", u"Chrome"_s, 3 * MiB), pip}, {},
                           [&] { return asked++ > 0; });
    QCOMPARE(result, (SafeCleanupResult{1, 0, 3 * MiB, {}, true}));
    QVERIFY(!ScratchDir::exists(m_home->filePath("Library/Caches/com.google.Chrome")));
    QVERIFY(ScratchDir::exists(m_home->filePath("Library/Caches/pip/wheels/w.whl")));
}

void TestSafeCleanupService::everyKindOfRowGoesAndLinksGoAsLinks()
{
    QVERIFY(RepresentativeTree::create(m_home->filePath("Documents")));
    const TreeInventory documents = TreeInventory::take(m_home->filePath("Documents"));
    // A cache folder that is a link: the link goes, the folder it names stays (links inside
    // a cache folder are rows of the fault sweep below).
    m_home->makeLink(m_home->filePath("Documents"), "Library/Caches/Homebrew");
    // Rows of a cache scan are direct children of the cache folder: files as
    // well as folders, with whatever names applications chose.
    sized("Library/Caches/com.example.single.db", 6 * MiB);
    sized("Library/Caches/\xff\xfe-кэш/\xe9.bin", 2 * MiB);

    const SafeCleanupResult result =
        run({candidate("Library/Caches/Homebrew", u"Homebrew"_s, 3 * MiB),
             candidate("Library/Caches/com.example.single.db", u"com.example.single.db"_s, 6 * MiB),
             candidate("Library/Caches/\xff\xfe-кэш", u"?-кэш"_s, 2 * MiB)});

    QCOMPARE(result.deleted, 3);
    QCOMPARE(result.failed, 0);
    // Nothing counted through the link.
    QVERIFY(result.freedBytes >= 8 * MiB && result.freedBytes < 8 * MiB + 4096);
    QCOMPARE(TreeInventory::take(m_home->filePath("Library/Caches")).entries().keys(), QList<QByteArray>{""});
    const QStringList changes = TreeInventory::take(m_home->filePath("Documents")).differencesFrom(documents);
    QVERIFY2(changes.isEmpty(), qPrintable(changes.join(u'\n')));
}

void TestSafeCleanupService::failureAtEveryOperation_data()
{
    QTest::addColumn<int>("error");
    for (const int error : {ENOSPC, EIO, EACCES, EXDEV}) {
        QTest::newRow(strerrorname_np(error)) << error;
    }
}

// The removal below the service (TreeRemover) is swept here too: the same
// tree, with the service's counts and messages on top.
void TestSafeCleanupService::failureAtEveryOperation()
{
    QFETCH(int, error);
    const QByteArray cache = m_home->filePath("Library/Caches/pip");
    m_home->writeFile("Library/Caches/other/keep.bin", "другой кэш");
    QVERIFY(RepresentativeTree::create(m_home->filePath("Documents")));
    QVERIFY(RepresentativeTree::create(cache, m_home->filePath("Documents")));
    const QSet<QByteArray> originalKeys = keysOf(TreeInventory::take(cache));
    const SafeCleanupCandidateList candidates{candidate("Library/Caches/pip", u"pip"_s, 1)};
    const qint64 fullSize = m_service->directorySize(FilePath(cache));
    m_fs->resetOperationCount();
    QCOMPARE(run(candidates).deleted, 1);
    const int operations = m_fs->operationCount();
    QVERIFY(operations > originalKeys.size());

    // The last round has no fault: everything goes, links as links.
    for (int n = 1; n <= operations + 1; ++n) {
        const QString context = u"fault at operation %1: "_s.arg(n);
        ScratchDir::removeTree(cache);
        QVERIFY(RepresentativeTree::create(cache, m_home->filePath("Documents")));
        const TreeInventory original = TreeInventory::take(cache);
        const TreeInventory outside = TreeInventory::take(m_home->path(), {"Library/Caches/pip"});
        QList<ProgressCall> calls;

        m_fs->failOperation(n, error);
        const SafeCleanupResult result = run(candidates, &calls);
        QVERIFY2(m_fs->faultFired() == (n <= operations), qPrintable(context));
        m_fs->failOperation(0, 0);
        QCOMPARE(calls.size(), 2);
        QCOMPARE(m_fs->openDescriptors(), 0);
        const QStringList outsideChanges
            = TreeInventory::take(m_home->path(), {"Library/Caches/pip"}).differencesFrom(outside);
        QVERIFY2(outsideChanges.isEmpty(), qPrintable(context + outsideChanges.join(u'\n')));
        const TreeInventory left = TreeInventory::take(cache);
        const QStringList altered = left.entriesNotIn(original);
        QVERIFY2(altered.isEmpty(), qPrintable(context + altered.join(u'\n')));

        if (result.deleted == 1) {
            // The fault hit the measuring, or an empty folder that could not
            // be opened and went all the same: less may be counted, nothing left.
            QVERIFY2(!left.rootExists(), qPrintable(context));
            QCOMPARE(result.failed, 0);
            QVERIFY(result.freedBytes <= fullSize);
            continue;
        }
        QCOMPARE(result, (SafeCleanupResult{0, 1, 0, {u"pip: "_s + platformText(error)}}));
        QVERIFY2(isOneFailureLeft(keysOf(left), originalKeys), qPrintable(context));
    }
}

BRISKO_TEST(TestSafeCleanupService)
#include "tst_SafeCleanupService.moc"
