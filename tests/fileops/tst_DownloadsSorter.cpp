#include "BriskoTest.h"
#include "TestValues.h"
#include "FaultInjectingFileSystem.h"
#include "ScratchDir.h"
#include "TreeInventory.h"

#include "fileops/DownloadsSorter.h"
#include "scan/HomeLayout.h"

#include <QtTest>

#include <numeric>

#include <cerrno>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

const QByteArray sortedRoot = "_Sorted/";

struct LooseFile
{
    QByteArray name;
    QByteArray bucket;
};

// A Downloads folder as people have it: Cyrillic names, names that are not
// valid UTF-8, extensions in upper case, a folder, a hidden file, links, and
// an earlier run's "_Sorted" that already holds a name about to arrive again.
const QList<LooseFile> looseFiles = {
    {"Отчёт за май.PDF", "Documents"}, {"clip.MP4", "Video"},        {"видео с дачи.3gp", "Other"},
    {"setup.dmg", "Installers"},       {"backup.tar.gz", "Archives"}, {"README", "Other"},
    {"песня.flac", "Audio"},           {"фото.heic", "Images"},       {"main.rs", "Code"},
    {"\xd0\xcf\xd2\xd4-report.txt", "Documents"}, {"\xff\xfe.bin", "Other"},
    {"link-to-folder", "Other"},       {"dangling-link", "Other"},
};

void makeRepresentativeDownloads(ScratchDir& scratch)
{
    for (const LooseFile& file : looseFiles) {
        if (file.name == "link-to-folder") {
            scratch.makeLink("Проект", "Downloads/" + file.name);
        } else if (file.name == "dangling-link") {
            scratch.makeLink("/nonexistent/brisko-target", "Downloads/" + file.name);
        } else {
            scratch.writeFile("Downloads/" + file.name, "content of " + file.name + '\n');
        }
    }
    scratch.writeFile("Downloads/Проект/план.txt", "plan\n");
    scratch.writeFile("Downloads/.DS_Store", "hidden\n");
    scratch.writeFile("Downloads/_Sorted/Documents/Отчёт за май.PDF", "an earlier report\n");
}

// Checks that every loose file is either untouched where it was or complete,
// under its bucket, at a name that was free; that everything else in the
// folder is as it was; and that nothing else appeared. Returns the names still
// in the root, or "<failed>" with the reason on the log.
QList<QByteArray> verifyNothingLost(const TreeInventory& before, const TreeInventory& after)
{
    const auto failed = [](const char* why, const QByteArray& name) {
        qWarning() << why << TreeInventory::display(name);
        return QList<QByteArray>{"<failed>"};
    };
    QList<QByteArray> stayed;
    QSet<QByteArray> arrivals;
    for (const LooseFile& file : looseFiles) {
        const TreeInventory::Entry original = before.entries().value(file.name);
        if (after.entries().contains(file.name)) {
            if (!after.entries().value(file.name).sameAs(original)) {
                return failed("changed in place:", file.name);
            }
            stayed.append(file.name);
            continue;
        }
        QList<QByteArray> found;
        for (auto it = after.entries().cbegin(); it != after.entries().cend(); ++it) {
            if (it.key().startsWith(sortedRoot + file.bucket + '/') && !before.entries().contains(it.key())
                && it->sameAs(original)) {
                found.append(it.key());
            }
        }
        if (found.size() != 1) {
            return failed("not found exactly once in its bucket:", file.name);
        }
        arrivals.insert(found.first());
    }
    for (auto it = before.entries().cbegin(); it != before.entries().cend(); ++it) {
        const bool loose = std::any_of(looseFiles.cbegin(), looseFiles.cend(),
                                       [&](const LooseFile& f) { return f.name == it.key(); });
        if (!loose && !(after.entries().contains(it.key()) && after.entries().value(it.key()).sameAs(*it))) {
            return failed("changed or lost:", it.key());
        }
    }
    for (auto it = after.entries().cbegin(); it != after.entries().cend(); ++it) {
        const bool bucketFolder = it->kind == TreeInventory::Entry::Kind::Directory
            && (it.key() == "_Sorted" || (it.key().startsWith(sortedRoot) && !it.key().mid(sortedRoot.size()).contains('/')));
        if (!before.entries().contains(it.key()) && !arrivals.contains(it.key()) && !bucketFolder) {
            return failed("appeared:", it.key());
        }
    }
    return stayed;
}

// Another program drops a file at the destination between the sorter's look
// and its rename.
class RacingFileSystem : public FaultInjectingFileSystem
{
public:
    int renameAt(int fromDirFd, const char* fromName, const QByteArray& fromPath, int toDirFd, const char* toName,
                 const QByteArray& toPath, bool noReplace) const override
    {
        ScratchDir::write(toPath, "arrived meanwhile\n");
        return FaultInjectingFileSystem::renameAt(fromDirFd, fromName, fromPath, toDirFd, toName, toPath, noReplace);
    }
};

SortResult sort(const QByteArray& downloads, FileSystemPtr fs = std::make_shared<FaultInjectingFileSystem>())
{
    return DownloadsSorter(std::move(fs)).sortSync(FilePath(downloads));
}

} // namespace

// The sorter on real folders; faults come from FaultInjectingFileSystem.
class tst_DownloadsSorter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bucketOf_data();
    void bucketOf();
    void emptyOrMissingDownloadsGetsSortedFolder();
    void sortsARealDownloadsFolder();
    void takenNamesGetACounter();
    void nameTakenMeanwhileIsNotReplaced();
    void failuresLeaveEveryFileInPlace_data();
    void failuresLeaveEveryFileInPlace();
    void faultAtEveryOperationLosesNothing_data();
    void faultAtEveryOperationLosesNothing();
    void runsOnThePool();
};

void tst_DownloadsSorter::bucketOf_data()
{
    // One row per rule, not per extension of the tables.
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("freedesktop");
    QTest::addColumn<QString>("bucket");
    QTest::newRow("video") << QByteArray("clip.mov") << false << "Video";
    QTest::newRow("original installer") << QByteArray("setup.pkg") << false << "Installers";
    QTest::newRow("freedesktop installer") << QByteArray("app.AppImage") << true << "Installers";
    QTest::newRow("freedesktop installer, original layout") << QByteArray("app.deb") << false << "Other";
    QTest::newRow("archive") << QByteArray("a.7z") << false << "Archives";
    QTest::newRow("document") << QByteArray("a.csv") << false << "Documents";
    QTest::newRow("audio") << QByteArray("a.ogg") << false << "Audio";
    QTest::newRow("image") << QByteArray("a.svg") << false << "Images";
    QTest::newRow("code") << QByteArray("a.yml") << false << "Code";
    QTest::newRow("unknown") << QByteArray("a.iso") << false << "Other";
    QTest::newRow("document inside a video name") << QByteArray("movie.mp4.txt") << false << "Documents";
    QTest::newRow("trailing dot") << QByteArray("notes.") << false << "Other";
    QTest::newRow("hidden name") << QByteArray(".pdf") << false << "Other";
    QTest::newRow("mixed case") << QByteArray("Photo.JpEg") << false << "Images";
    QTest::newRow("Cyrillic extension") << QByteArray("заметки.тхт") << false << "Other";
    QTest::newRow("Cyrillic name") << QByteArray("Договор аренды.DOCX") << false << "Documents";
    QTest::newRow("not UTF-8 before the dot") << QByteArray("\xff\xfe\xfd.mkv") << false << "Video";
    QTest::newRow("not UTF-8 extension") << QByteArray("file.\xe9xe") << false << "Other";
    QTest::newRow("name like an extension") << QByteArray("pdf") << false << "Other";
}

void tst_DownloadsSorter::bucketOf()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, freedesktop);
    QFETCH(QString, bucket);
    const HomeLayout layout = freedesktop ? HomeLayout::freedesktop(FilePath("/home/u"), QProcessEnvironment())
                                          : HomeLayout::original(FilePath("/home/u"));
    QCOMPARE(DownloadsSorter(nullptr, layout.installerExtensions()).bucketName(FilePath("/home/u/Downloads/" + name)),
             bucket);
}

void tst_DownloadsSorter::emptyOrMissingDownloadsGetsSortedFolder()
{
    // "_Sorted" is made with its missing parents before the folder is read.
    ScratchDir scratch;
    QCOMPARE(sort(scratch.filePath("Downloads")), SortResult{});
    QCOMPARE(TreeInventory::take(scratch.filePath("Downloads")).entries().keys(), QList<QByteArray>({"", "_Sorted"}));
    QCOMPARE(sort(scratch.filePath("Downloads")), SortResult{});
}

void tst_DownloadsSorter::sortsARealDownloadsFolder()
{
    ScratchDir scratch;
    makeRepresentativeDownloads(scratch);
    const QByteArray downloads = scratch.filePath("Downloads");
    const TreeInventory before = TreeInventory::take(downloads);

    SortResult expected;
    expected.moved = 13;
    expected.skipped = 1;
    expected.byBucket = {{u"Archives"_s, 1}, {u"Audio"_s, 1},      {u"Code"_s, 1},  {u"Documents"_s, 2},
                         {u"Images"_s, 1},   {u"Installers"_s, 1}, {u"Other"_s, 5}, {u"Video"_s, 1}};
    QCOMPARE(sort(downloads), expected);

    const TreeInventory after = TreeInventory::take(downloads);
    QCOMPARE(verifyNothingLost(before, after), QList<QByteArray>());
    // Exact places: the exact bytes of names that are not UTF-8, the counter
    // before the extension as written, links filed as links.
    for (const QByteArray& place :
         {QByteArray("_Sorted/Documents/Отчёт за май_2.PDF"), QByteArray("_Sorted/Documents/\xd0\xcf\xd2\xd4-report.txt"),
          QByteArray("_Sorted/Other/\xff\xfe.bin"), QByteArray("_Sorted/Archives/backup.tar.gz")}) {
        QVERIFY2(after.entries().contains(place), qPrintable(TreeInventory::display(place)));
    }
    QCOMPARE(after.entries().value("_Sorted/Other/link-to-folder").linkTarget, QByteArray("Проект"));
    // Whatever is left is a folder or hidden: a second run moves nothing.
    expected.moved = 0;
    expected.byBucket.clear();
    QCOMPARE(sort(downloads), expected);
}

void tst_DownloadsSorter::takenNamesGetACounter()
{
    ScratchDir scratch;
    // Every kind of taken name: a file, a folder, a dangling link, and names
    // without extension or not valid UTF-8.
    scratch.writeFile("Downloads/_Sorted/Documents/report.pdf", "old 1\n");
    scratch.makeDirectory("Downloads/_Sorted/Documents/report_2.pdf");
    scratch.makeLink("/nonexistent", "Downloads/_Sorted/Documents/report_3.pdf");
    scratch.writeFile("Downloads/_Sorted/Other/README", "old readme\n");
    scratch.writeFile("Downloads/_Sorted/Other/\xc0\xc1", "old binary\n");
    scratch.writeFile("Downloads/_Sorted/Other/\xc0\xc1_2", "older binary\n");
    scratch.writeFile("Downloads/report.pdf", "new report\n");
    scratch.writeFile("Downloads/README", "new readme\n");
    scratch.writeFile("Downloads/\xc0\xc1", "new binary\n");
    const QByteArray downloads = scratch.filePath("Downloads");
    const TreeInventory before = TreeInventory::take(downloads + "/_Sorted");

    QCOMPARE(sort(downloads).moved, 3);
    QCOMPARE(ScratchDir::readFile(downloads + "/_Sorted/Documents/report_4.pdf"), QByteArray("new report\n"));
    QCOMPARE(ScratchDir::readFile(downloads + "/_Sorted/Other/README_2"), QByteArray("new readme\n"));
    QCOMPARE(ScratchDir::readFile(downloads + "/_Sorted/Other/\xc0\xc1_3"), QByteArray("new binary\n"));
    QCOMPARE(TreeInventory::take(downloads + "/_Sorted").entriesNotIn(before).size(), 3);
    QCOMPARE(before.entriesNotIn(TreeInventory::take(downloads + "/_Sorted")), QStringList());

    // The public form of the rule: a free name as it is, the counter before
    // the last extension, none after a trailing dot.
    const DownloadsSorter sorter(std::make_shared<FaultInjectingFileSystem>());
    const QByteArray dir = scratch.makeDirectory("Другое");
    QCOMPARE(sorter.uniqueURL(FilePath(dir + "/a.tar.gz")), FilePath(dir + "/a.tar.gz"));
    scratch.writeFile("Другое/a.tar.gz", "x");
    scratch.writeFile("Другое/a.tar_2.gz", "x");
    QCOMPARE(sorter.uniqueURL(FilePath(dir + "/a.tar.gz")), FilePath(dir + "/a.tar_3.gz"));
    scratch.writeFile("Другое/notes.", "x");
    QCOMPARE(sorter.uniqueURL(FilePath(dir + "/notes.")), FilePath(dir + "/notes._2"));
}

void tst_DownloadsSorter::nameTakenMeanwhileIsNotReplaced()
{
    ScratchDir scratch;
    scratch.writeFile("Downloads/акт.pdf", "mine\n");
    const SortResult result = sort(scratch.filePath("Downloads"), std::make_shared<RacingFileSystem>());
    QCOMPARE(result.moved, 0);
    QCOMPARE(result.errors, QStringList{u"акт.pdf: "_s + platformText(EEXIST)});
    QCOMPARE(ScratchDir::readFile(scratch.filePath("Downloads/акт.pdf")), QByteArray("mine\n"));
    QCOMPARE(ScratchDir::readFile(scratch.filePath("Downloads/_Sorted/Documents/акт.pdf")),
             QByteArray("arrived meanwhile\n"));
}

void tst_DownloadsSorter::failuresLeaveEveryFileInPlace_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("failed");
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<int>("foldersMade");
    const QStringList unreadable{u"Не удалось прочитать Downloads"_s};
    const auto each = [](int error) {
        return QStringList{u"заметка.txt: "_s + platformText(error), u"фильм.mkv: "_s + platformText(error)};
    };
    // Downloads unreadable: that is the single error ("_Sorted" is made before the folder is read).
    QTest::newRow("Downloads cannot be opened") << "open" << 0 << unreadable << 1;
    QTest::newRow("Downloads breaks while read") << "read" << 0 << unreadable << 1;
    QTest::newRow("_Sorted is a file") << "file" << 2 << each(ENOTDIR) << 0;
    // A rename that would have to become a copy is never made one.
    QTest::newRow("_Sorted on another volume") << "volume" << 2 << each(EXDEV) << 3;
}

void tst_DownloadsSorter::failuresLeaveEveryFileInPlace()
{
    QFETCH(QString, fault);
    QFETCH(int, failed);
    QFETCH(QStringList, errors);
    QFETCH(int, foldersMade);
    ScratchDir scratch;
    if (fault == "file"_L1) {
        scratch.writeFile("Downloads/_Sorted", "not a folder\n");
    }
    scratch.writeFile("Downloads/фильм.mkv", "frames\n");
    scratch.writeFile("Downloads/заметка.txt", "text\n");
    const QByteArray downloads = scratch.filePath("Downloads");
    auto fs = std::make_shared<FaultInjectingFileSystem>();
    fs->setVolumeBoundary(downloads + "/_Sorted");
    if (fault == "open"_L1) {
        fs->failOpen(downloads);
    } else if (fault == "read"_L1) {
        fs->failRead(downloads);
    }
    const TreeInventory before = TreeInventory::take(downloads);

    const SortResult result = sort(downloads, fs);
    QCOMPARE((QList<qint64>{result.moved, result.skipped, result.failed}), (QList<qint64>{0, 0, failed}));
    QVERIFY(result.byBucket.isEmpty());
    QStringList sortedErrors = result.errors;
    // Listing order is the kernel's; the lines follow it.
    sortedErrors.sort();
    QCOMPARE(sortedErrors, errors);
    // Only the bucket folders may have appeared.
    QCOMPARE(before.entriesNotIn(TreeInventory::take(downloads)), QStringList());
    QCOMPARE(TreeInventory::take(downloads).differencesFrom(before).size(), foldersMade);
}

void tst_DownloadsSorter::faultAtEveryOperationLosesNothing_data()
{
    QTest::addColumn<int>("errnoValue");
    for (const int error : {ENOSPC, EIO, EACCES, EXDEV}) {
        QTest::newRow(strerrorname_np(error)) << error;
    }
}

void tst_DownloadsSorter::faultAtEveryOperationLosesNothing()
{
    QFETCH(int, errnoValue);
    // "_Sorted" and eight buckets made (or found there) and opened, and
    // thirteen renames: the loop puts the fault on each of them.
    const int operations = 2 * 9 + 13;
    for (int nth = 1; nth <= operations + 1; ++nth) {
        ScratchDir scratch;
        makeRepresentativeDownloads(scratch);
        const QByteArray downloads = scratch.filePath("Downloads");
        const TreeInventory before = TreeInventory::take(downloads);
        auto fs = std::make_shared<FaultInjectingFileSystem>();
        fs->failOperation(nth, errnoValue);

        const SortResult result = sort(downloads, fs);
        QCOMPARE(fs->faultFired(), nth <= operations);
        const QList<QByteArray> stayed = verifyNothingLost(before, TreeInventory::take(downloads));
        QVERIFY2(!stayed.contains("<failed>"), qPrintable(u"fault at operation %1"_s.arg(nth)));

        // One fault costs at most the one file whose folder or rename it hit,
        // and the counts tell exactly what happened.
        QCOMPARE(result.failed, qint64(stayed.size()));
        QVERIFY(result.failed <= 1);
        QCOMPARE(result.moved + result.failed, 13);
        QCOMPARE(result.skipped, 1);
        QCOMPARE(std::accumulate(result.byBucket.cbegin(), result.byBucket.cend(), qint64(0)), result.moved);
        QCOMPARE(result.errors.size(), stayed.size());
        if (!stayed.isEmpty()) {
            // A failed rename gives its own reason; a bucket folder that could
            // not be made leaves the rename nothing to go into.
            const QString prefix = QFile::decodeName(stayed.first()) + u": "_s;
            const QString line = result.errors.first();
            QVERIFY2(line == prefix + platformText(errnoValue) || line == prefix + platformText(ENOENT), qPrintable(line));
        }
    }
}

void tst_DownloadsSorter::runsOnThePool()
{
    ScratchDir scratch;
    scratch.writeFile("Downloads/song.mp3", "la\n");
    QFuture<SortResult> sorting =
        DownloadsSorter(std::make_shared<FaultInjectingFileSystem>()).sortDownloads(scratch.nativePath("Downloads"));
    QTRY_VERIFY(sorting.isFinished());
    QCOMPARE(sorting.result().byBucket, (QMap<QString, qint64>{{u"Audio"_s, 1}}));
    QCOMPARE(ScratchDir::readFile(scratch.filePath("Downloads/_Sorted/Audio/song.mp3")), QByteArray("la\n"));
}

BRISKO_TEST(tst_DownloadsSorter)
#include "tst_DownloadsSorter.moc"
