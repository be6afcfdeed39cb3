#include "BriskoTest.h"
#include "FaultInjectingFileSystem.h"
#include "ScratchDir.h"
#include "TreeInventory.h"

#include "fileops/DownloadsSorter.h"
#include "scan/HomeLayout.h"

#include <QtTest>

#include <cerrno>
#include <cstring>

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
    {"Отчёт за май.PDF", "Documents"},
    {"clip.MP4", "Video"},
    {"видео с дачи.3gp", "Other"},
    {"setup.dmg", "Installers"},
    {"backup.tar.gz", "Archives"},
    {"README", "Other"},
    {"песня.flac", "Audio"},
    {"фото.heic", "Images"},
    {"main.rs", "Code"},
    {"\xd0\xcf\xd2\xd4-report.txt", "Documents"},
    {"\xff\xfe.bin", "Other"},
    {"link-to-folder", "Other"},
    {"dangling-link", "Other"},
};

QByteArray contentOf(const QByteArray& name)
{
    return "content of " + name + '\n';
}

void makeRepresentativeDownloads(ScratchDir& scratch)
{
    for (const LooseFile& file : looseFiles) {
        if (file.name == "link-to-folder") {
            scratch.makeLink("Проект", "Downloads/" + file.name);
        } else if (file.name == "dangling-link") {
            scratch.makeLink("/nonexistent/brisko-target", "Downloads/" + file.name);
        } else {
            scratch.writeFile("Downloads/" + file.name, contentOf(file.name));
        }
    }
    scratch.writeFile("Downloads/Проект/план.txt", "plan\n");
    scratch.writeFile("Downloads/.DS_Store", "hidden\n");
    scratch.writeFile("Downloads/_Sorted/Documents/Отчёт за май.PDF", "an earlier report\n");
}

QString nameText(const QByteArray& name)
{
    return QFile::decodeName(name);
}

// Checks that every loose file is either untouched where it was or complete,
// under its bucket, at a name that was free; that everything else in the
// folder is as it was; and that nothing else appeared. Returns the names still
// in the root.
QList<QByteArray> verifyNothingLost(const TreeInventory& before, const TreeInventory& after)
{
    QList<QByteArray> stayed;
    QSet<QByteArray> arrivals;
    for (const LooseFile& file : looseFiles) {
        const TreeInventory::Entry original = before.entries().value(file.name);
        if (after.entries().contains(file.name)) {
            if (!after.entries().value(file.name).sameAs(original)) {
                qWarning() << "changed in place:" << nameText(file.name);
                return {"<failed>"};
            }
            stayed.append(file.name);
            continue;
        }
        const QByteArray folder = sortedRoot + file.bucket + '/';
        QList<QByteArray> found;
        for (auto it = after.entries().cbegin(); it != after.entries().cend(); ++it) {
            if (it.key().startsWith(folder) && !before.entries().contains(it.key()) && it->sameAs(original)) {
                found.append(it.key());
            }
        }
        if (found.size() != 1) {
            qWarning() << "not found exactly once in its bucket:" << nameText(file.name) << found.size();
            return {"<failed>"};
        }
        arrivals.insert(found.first());
    }
    for (auto it = before.entries().cbegin(); it != before.entries().cend(); ++it) {
        const bool loose = std::any_of(looseFiles.cbegin(), looseFiles.cend(),
                                       [&](const LooseFile& f) { return f.name == it.key(); });
        if (!loose && !(after.entries().contains(it.key()) && after.entries().value(it.key()).sameAs(*it))) {
            qWarning() << "changed or lost:" << TreeInventory::display(it.key());
            return {"<failed>"};
        }
    }
    for (auto it = after.entries().cbegin(); it != after.entries().cend(); ++it) {
        const bool bucketFolder = it->kind == TreeInventory::Entry::Kind::Directory
            && (it.key() == "_Sorted" || (it.key().startsWith(sortedRoot) && !it.key().mid(sortedRoot.size()).contains('/')));
        if (!before.entries().contains(it.key()) && !arrivals.contains(it.key()) && !bucketFolder) {
            qWarning() << "appeared:" << TreeInventory::display(it.key());
            return {"<failed>"};
        }
    }
    return stayed;
}

QString describe(int errnoValue)
{
    return QString::fromLocal8Bit(std::strerror(errnoValue));
}

// Another program drops a file at the destination between the sorter's look
// and its rename.
class RacingFileSystem : public FaultInjectingFileSystem
{
public:
    int renameAt(int fromDirFd, const char* fromName, const QByteArray& fromPath, int toDirFd, const char* toName,
                 const QByteArray& toPath, bool noReplace) const override
    {
        QFile intruder(QFile::decodeName(toPath));
        if (!intruder.open(QIODevice::WriteOnly) || intruder.write("arrived meanwhile\n") < 0) {
            return EIO;
        }
        intruder.close();
        return FaultInjectingFileSystem::renameAt(fromDirFd, fromName, fromPath, toDirFd, toName, toPath, noReplace);
    }
};

} // namespace

// The sorter on real folders; faults come from FaultInjectingFileSystem.
class tst_DownloadsSorter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bucketOfEveryExtension_data();
    void bucketOfEveryExtension();
    void bucketOfUnusualNames_data();
    void bucketOfUnusualNames();

    void emptyDownloadsStillGetsSortedFolder();
    void missingDownloadsIsCreatedEmpty();
    void unreadableDownloadsIsTheSingleError_data();
    void unreadableDownloadsIsTheSingleError();

    void sortsARealDownloadsFolder();
    void secondRunMovesOnlyNewArrivals();
    void takenNamesGetACounter();
    void freeNameRules();
    void nameTakenMeanwhileIsNotReplaced();
    void sortedAsAFileMakesEveryMoveFailInPlace();
    void sortedOnAnotherVolumeIsNeverCopied();
    void faultAtEveryOperationLosesNothing_data();
    void faultAtEveryOperationLosesNothing();
    void runsOnThePool();
};

void tst_DownloadsSorter::bucketOfEveryExtension_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("bucket");
    const QList<std::pair<const char*, QList<const char*>>> table = {
        {"Video", {"mp4", "mov", "avi", "mkv", "m4v", "wmv", "webm", "flv", "mpeg", "mpg"}},
        {"Installers", {"dmg", "pkg", "deb", "rpm", "AppImage", "run", "flatpakref", "snap"}},
        {"Archives", {"zip", "rar", "7z", "tar", "gz", "bz2", "xz"}},
        {"Documents",
         {"pdf", "doc", "docx", "xls", "xlsx", "ppt", "pptx", "txt", "pages", "numbers", "key", "rtf", "csv"}},
        {"Audio", {"mp3", "wav", "aiff", "m4a", "flac", "aac", "ogg"}},
        {"Images", {"jpg", "jpeg", "png", "gif", "webp", "heic", "psd", "tiff", "bmp", "svg"}},
        {"Code",
         {"swift", "js", "ts", "py", "json", "html", "css", "php", "rb", "go", "rs", "java", "c", "cpp", "h", "sh",
          "yaml", "yml", "xml"}},
        {"Other", {"3gp", "mts", "exe", "iso", "docm", "m4b", "tgz", "ini", "mdx"}},
    };
    for (const auto& [bucket, extensions] : table) {
        for (const char* extension : extensions) {
            const QString lower = QString::fromLatin1(extension);
            const QString name = QString::fromLatin1(bucket);
            QTest::addRow("%s", extension) << lower << name;
            QTest::addRow("%s", qPrintable(lower.toUpper())) << lower.toUpper() << name;
        }
    }
}

void tst_DownloadsSorter::bucketOfEveryExtension()
{
    QFETCH(QString, extension);
    QFETCH(QString, bucket);
    const HomeLayout layout = HomeLayout::freedesktop(FilePath("/home/u"), QProcessEnvironment());
    const DownloadsSorter sorter(nullptr, layout.installerExtensions());
    QCOMPARE(sorter.bucketName(FilePath::fromString(QStringLiteral("/d/файл.") + extension)), bucket);
    // Without the freedesktop types only the original installers are installers.
    if (bucket == QLatin1String("Installers") && extension.toLower() != QLatin1String("dmg")
        && extension.toLower() != QLatin1String("pkg")) {
        QCOMPARE(DownloadsSorter(nullptr).bucketName(FilePath::fromString(QStringLiteral("/d/x.") + extension)),
                 QStringLiteral("Other"));
    }
}

void tst_DownloadsSorter::bucketOfUnusualNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("bucket");
    QTest::newRow("only the last extension counts") << QByteArray("backup.tar.gz") << QStringLiteral("Archives");
    QTest::newRow("document inside a video name") << QByteArray("movie.mp4.txt") << QStringLiteral("Documents");
    QTest::newRow("no extension") << QByteArray("README") << QStringLiteral("Other");
    QTest::newRow("trailing dot") << QByteArray("notes.") << QStringLiteral("Other");
    QTest::newRow("mixed case") << QByteArray("Photo.JpEg") << QStringLiteral("Images");
    QTest::newRow("Cyrillic extension") << QByteArray("заметки.тхт") << QStringLiteral("Other");
    QTest::newRow("Cyrillic name") << QByteArray("Договор аренды.DOCX") << QStringLiteral("Documents");
    QTest::newRow("not UTF-8 before the dot") << QByteArray("\xff\xfe\xfd.mkv") << QStringLiteral("Video");
    QTest::newRow("not UTF-8 extension") << QByteArray("file.\xe9xe") << QStringLiteral("Other");
    QTest::newRow("name like an extension") << QByteArray("pdf") << QStringLiteral("Other");
}

void tst_DownloadsSorter::bucketOfUnusualNames()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, bucket);
    QCOMPARE(DownloadsSorter(nullptr).bucketName(FilePath("/home/u/Downloads/" + name)), bucket);
}

void tst_DownloadsSorter::emptyDownloadsStillGetsSortedFolder()
{
    ScratchDir scratch;
    scratch.makeDirectory("Downloads");
    const DownloadsSorter sorter(std::make_shared<FaultInjectingFileSystem>());
    const SortResult result = sorter.sortSync(scratch.nativePath("Downloads"));
    QCOMPARE(result, SortResult{});
    const TreeInventory after = TreeInventory::take(scratch.filePath("Downloads"));
    QCOMPARE(after.entries().keys(), QList<QByteArray>({"", "_Sorted"}));
}

void tst_DownloadsSorter::missingDownloadsIsCreatedEmpty()
{
    // "_Sorted" is made with its missing parents before the folder is read.
    ScratchDir scratch;
    const DownloadsSorter sorter(std::make_shared<FaultInjectingFileSystem>());
    const SortResult result = sorter.sortSync(scratch.nativePath("Downloads"));
    QCOMPARE(result, SortResult{});
    QVERIFY(ScratchDir::exists(scratch.filePath("Downloads/_Sorted")));
}

void tst_DownloadsSorter::unreadableDownloadsIsTheSingleError_data()
{
    QTest::addColumn<bool>("failOpen");
    QTest::newRow("cannot be opened") << true;
    QTest::newRow("breaks while read") << false;
}

void tst_DownloadsSorter::unreadableDownloadsIsTheSingleError()
{
    QFETCH(bool, failOpen);
    ScratchDir scratch;
    makeRepresentativeDownloads(scratch);
    const QByteArray downloads = scratch.filePath("Downloads");
    auto fs = std::make_shared<FaultInjectingFileSystem>();
    failOpen ? fs->failOpen(downloads) : fs->failRead(downloads);
    const TreeInventory before = TreeInventory::take(downloads);

    const SortResult result = DownloadsSorter(fs).sortSync(FilePath(downloads));
    SortResult expected;
    expected.errors = {QStringLiteral("Не удалось прочитать Downloads")};
    QCOMPARE(result, expected);
    QCOMPARE(TreeInventory::take(downloads).differencesFrom(before), QStringList());
}

void tst_DownloadsSorter::sortsARealDownloadsFolder()
{
    ScratchDir scratch;
    makeRepresentativeDownloads(scratch);
    const QByteArray downloads = scratch.filePath("Downloads");
    const TreeInventory before = TreeInventory::take(downloads);

    const SortResult result = DownloadsSorter(std::make_shared<FaultInjectingFileSystem>()).sortSync(FilePath(downloads));
    QCOMPARE(result.moved, 13);
    QCOMPARE(result.skipped, 1);
    QCOMPARE(result.failed, 0);
    QCOMPARE(result.errors, QStringList());
    const QMap<QString, qint64> buckets = {
        {QStringLiteral("Archives"), 1}, {QStringLiteral("Audio"), 1},  {QStringLiteral("Code"), 1},
        {QStringLiteral("Documents"), 2}, {QStringLiteral("Images"), 1}, {QStringLiteral("Installers"), 1},
        {QStringLiteral("Other"), 5},    {QStringLiteral("Video"), 1},
    };
    QCOMPARE(result.byBucket, buckets);

    const TreeInventory after = TreeInventory::take(downloads);
    QCOMPARE(verifyNothingLost(before, after), QList<QByteArray>());
    // Exact places: the exact bytes of names that are not UTF-8, the counter
    // before the extension as written, links filed as links.
    for (const QByteArray& expected :
         {QByteArray("_Sorted/Documents/Отчёт за май_2.PDF"), QByteArray("_Sorted/Documents/\xd0\xcf\xd2\xd4-report.txt"),
          QByteArray("_Sorted/Other/\xff\xfe.bin"), QByteArray("_Sorted/Other/видео с дачи.3gp"),
          QByteArray("_Sorted/Archives/backup.tar.gz"), QByteArray("_Sorted/Other/README")}) {
        QVERIFY2(after.entries().contains(expected), qPrintable(TreeInventory::display(expected)));
    }
    QCOMPARE(after.entries().value("_Sorted/Other/link-to-folder").kind, TreeInventory::Entry::Kind::Symlink);
    QCOMPARE(after.entries().value("_Sorted/Other/link-to-folder").linkTarget, QByteArray("Проект"));
    QCOMPARE(ScratchDir::readFile(scratch.filePath("Downloads/_Sorted/Documents/Отчёт за май.PDF")),
             QByteArray("an earlier report\n"));
    // The folder and the hidden file stay, untouched.
    QVERIFY(after.entries().value("Проект/план.txt").sameAs(before.entries().value("Проект/план.txt")));
    QVERIFY(after.entries().value(".DS_Store").sameAs(before.entries().value(".DS_Store")));
}

void tst_DownloadsSorter::secondRunMovesOnlyNewArrivals()
{
    ScratchDir scratch;
    scratch.writeFile("Downloads/x.txt", "first\n");
    scratch.makeDirectory("Downloads/Папка");
    const DownloadsSorter sorter(std::make_shared<FaultInjectingFileSystem>());
    const FilePath downloads = scratch.nativePath("Downloads");
    QCOMPARE(sorter.sortSync(downloads).moved, 1);

    scratch.writeFile("Downloads/x.txt", "second\n");
    const SortResult second = sorter.sortSync(downloads);
    QCOMPARE(second.moved, 1);
    QCOMPARE(second.skipped, 1);
    QCOMPARE(second.byBucket, (QMap<QString, qint64>{{QStringLiteral("Documents"), 1}}));
    QCOMPARE(ScratchDir::readFile(scratch.filePath("Downloads/_Sorted/Documents/x.txt")), QByteArray("first\n"));
    QCOMPARE(ScratchDir::readFile(scratch.filePath("Downloads/_Sorted/Documents/x_2.txt")), QByteArray("second\n"));

    const SortResult third = sorter.sortSync(downloads);
    QCOMPARE(third.moved, 0);
    QCOMPARE(third.skipped, 1);
    QVERIFY(third.byBucket.isEmpty());
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
    const TreeInventory before = TreeInventory::take(downloads);

    const SortResult result = DownloadsSorter(std::make_shared<FaultInjectingFileSystem>()).sortSync(FilePath(downloads));
    QCOMPARE(result.moved, 3);
    QCOMPARE(result.failed, 0);
    QCOMPARE(ScratchDir::readFile(downloads + "/_Sorted/Documents/report_4.pdf"), QByteArray("new report\n"));
    QCOMPARE(ScratchDir::readFile(downloads + "/_Sorted/Other/README_2"), QByteArray("new readme\n"));
    QCOMPARE(ScratchDir::readFile(downloads + "/_Sorted/Other/\xc0\xc1_3"), QByteArray("new binary\n"));
    // Nothing that was there has changed.
    const TreeInventory after = TreeInventory::take(downloads);
    for (auto it = before.entries().cbegin(); it != before.entries().cend(); ++it) {
        if (it.key().startsWith(sortedRoot)) {
            QVERIFY2(after.entries().value(it.key()).sameAs(*it), qPrintable(TreeInventory::display(it.key())));
        }
    }
}

void tst_DownloadsSorter::freeNameRules()
{
    ScratchDir scratch;
    const DownloadsSorter sorter(std::make_shared<FaultInjectingFileSystem>());
    const QByteArray dir = scratch.makeDirectory("Другое");
    // A free name is returned as it is.
    QCOMPARE(sorter.uniqueURL(FilePath(dir + "/a.tar.gz")), FilePath(dir + "/a.tar.gz"));
    scratch.writeFile("Другое/a.tar.gz", "x");
    QCOMPARE(sorter.uniqueURL(FilePath(dir + "/a.tar.gz")), FilePath(dir + "/a.tar_2.gz"));
    scratch.writeFile("Другое/notes.", "x");
    QCOMPARE(sorter.uniqueURL(FilePath(dir + "/notes.")), FilePath(dir + "/notes._2"));
    // The counter keeps counting past gaps only while names are taken.
    for (int n = 2; n <= 11; ++n) {
        scratch.writeFile("Другое/файл_" + QByteArray::number(n) + ".txt", "x");
    }
    scratch.writeFile("Другое/файл.txt", "x");
    QCOMPARE(sorter.uniqueURL(FilePath(dir + "/файл.txt")), FilePath(dir + "/файл_12.txt"));
}

void tst_DownloadsSorter::nameTakenMeanwhileIsNotReplaced()
{
    ScratchDir scratch;
    scratch.writeFile("Downloads/акт.pdf", "mine\n");
    const SortResult result = DownloadsSorter(std::make_shared<RacingFileSystem>()).sortSync(scratch.nativePath("Downloads"));
    QCOMPARE(result.moved, 0);
    QCOMPARE(result.failed, 1);
    QCOMPARE(result.errors, QStringList{QStringLiteral("акт.pdf: ") + describe(EEXIST)});
    QCOMPARE(ScratchDir::readFile(scratch.filePath("Downloads/акт.pdf")), QByteArray("mine\n"));
    QCOMPARE(ScratchDir::readFile(scratch.filePath("Downloads/_Sorted/Documents/акт.pdf")),
             QByteArray("arrived meanwhile\n"));
}

void tst_DownloadsSorter::sortedAsAFileMakesEveryMoveFailInPlace()
{
    ScratchDir scratch;
    scratch.writeFile("Downloads/_Sorted", "not a folder\n");
    scratch.writeFile("Downloads/a.pdf", "a\n");
    scratch.writeFile("Downloads/b.mp3", "b\n");
    const QByteArray downloads = scratch.filePath("Downloads");
    const TreeInventory before = TreeInventory::take(downloads);

    const SortResult result = DownloadsSorter(std::make_shared<FaultInjectingFileSystem>()).sortSync(FilePath(downloads));
    QCOMPARE(result.moved, 0);
    QCOMPARE(result.skipped, 0);
    QCOMPARE(result.failed, 2);
    QVERIFY(result.byBucket.isEmpty());
    QStringList expected = {QStringLiteral("a.pdf: ") + describe(ENOTDIR), QStringLiteral("b.mp3: ") + describe(ENOTDIR)};
    QStringList errors = result.errors;
    // Listing order is the kernel's; the lines follow it.
    errors.sort();
    QCOMPARE(errors, expected);
    QCOMPARE(TreeInventory::take(downloads).differencesFrom(before), QStringList());
}

void tst_DownloadsSorter::sortedOnAnotherVolumeIsNeverCopied()
{
    ScratchDir scratch;
    scratch.writeFile("Downloads/фильм.mkv", "frames\n");
    scratch.writeFile("Downloads/заметка.txt", "text\n");
    const QByteArray downloads = scratch.filePath("Downloads");
    auto fs = std::make_shared<FaultInjectingFileSystem>();
    fs->setVolumeBoundary(downloads + "/_Sorted");
    const TreeInventory before = TreeInventory::take(downloads);

    const SortResult result = DownloadsSorter(fs).sortSync(FilePath(downloads));
    QCOMPARE(result.moved, 0);
    QCOMPARE(result.failed, 2);
    for (const QString& line : result.errors) {
        QVERIFY2(line.endsWith(QStringLiteral(": ") + describe(EXDEV)), qPrintable(line));
    }
    const TreeInventory after = TreeInventory::take(downloads);
    QCOMPARE(after.entries().keys(), QList<QByteArray>({"", "_Sorted", "_Sorted/Documents", "_Sorted/Video",
                                                         "заметка.txt", "фильм.mkv"}));
    QCOMPARE(after.differencesFrom(before).size(), 3);
}

void tst_DownloadsSorter::faultAtEveryOperationLosesNothing_data()
{
    QTest::addColumn<int>("errnoValue");
    QTest::newRow("ENOSPC") << ENOSPC;
    QTest::newRow("EIO") << EIO;
    QTest::newRow("EACCES") << EACCES;
    QTest::newRow("EXDEV") << EXDEV;
}

void tst_DownloadsSorter::faultAtEveryOperationLosesNothing()
{
    QFETCH(int, errnoValue);
    int operations = 0;
    {
        ScratchDir scratch;
        makeRepresentativeDownloads(scratch);
        auto fs = std::make_shared<FaultInjectingFileSystem>();
        QCOMPARE(DownloadsSorter(fs).sortSync(scratch.nativePath("Downloads")).moved, 13);
        operations = fs->operationCount();
    }
    // "_Sorted" and eight buckets made (or found there) and opened, and
    // thirteen renames: the loop below puts the fault on each of them.
    QCOMPARE(operations, 2 * 9 + 13);

    for (int nth = 1; nth <= operations; ++nth) {
        ScratchDir scratch;
        makeRepresentativeDownloads(scratch);
        const QByteArray downloads = scratch.filePath("Downloads");
        const TreeInventory before = TreeInventory::take(downloads);
        auto fs = std::make_shared<FaultInjectingFileSystem>();
        fs->failOperation(nth, errnoValue);

        const SortResult result = DownloadsSorter(fs).sortSync(FilePath(downloads));
        QVERIFY(fs->faultFired());
        const QList<QByteArray> stayed = verifyNothingLost(before, TreeInventory::take(downloads));
        QVERIFY2(!stayed.contains("<failed>"), qPrintable(QStringLiteral("fault at operation %1").arg(nth)));

        // One fault costs at most the one file whose folder or rename it hit,
        // and the counts tell exactly what happened.
        QCOMPARE(result.failed, qint64(stayed.size()));
        QVERIFY(result.failed <= 1);
        QCOMPARE(result.moved + result.failed, 13);
        QCOMPARE(result.skipped, 1);
        qint64 bucketTotal = 0;
        for (qint64 count : result.byBucket) {
            bucketTotal += count;
        }
        QCOMPARE(bucketTotal, result.moved);
        QCOMPARE(result.errors.size(), stayed.size());
        if (!stayed.isEmpty()) {
            // A failed rename gives its own reason; a bucket folder that could
            // not be made leaves the rename nothing to go into.
            const QString prefix = QFile::decodeName(stayed.first()) + QStringLiteral(": ");
            const QString line = result.errors.first();
            QVERIFY2(line == prefix + describe(errnoValue) || line == prefix + describe(ENOENT), qPrintable(line));
        }
    }
}

void tst_DownloadsSorter::runsOnThePool()
{
    ScratchDir scratch;
    scratch.writeFile("Downloads/song.mp3", "la\n");
    scratch.makeDirectory("Downloads/папка");
    const DownloadsSorter sorter(std::make_shared<FaultInjectingFileSystem>());
    QFuture<SortResult> sorting = sorter.sortDownloads(scratch.nativePath("Downloads"));
    QTRY_VERIFY(sorting.isFinished());
    SortResult expected;
    expected.moved = 1;
    expected.skipped = 1;
    expected.byBucket = {{QStringLiteral("Audio"), 1}};
    QCOMPARE(sorting.result(), expected);
    QCOMPARE(ScratchDir::readFile(scratch.filePath("Downloads/_Sorted/Audio/song.mp3")), QByteArray("la\n"));
}

BRISKO_TEST(tst_DownloadsSorter)
#include "tst_DownloadsSorter.moc"
