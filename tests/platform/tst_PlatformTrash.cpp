#include "BriskoTest.h"
#include "TestValues.h"
#include "FakeClock.h"
#include "FaultInjectingFileSystem.h"
#include "RepresentativeTree.h"
#include "ScratchDir.h"
#include "TreeInventory.h"

#include "platform/PlatformTrash.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The second file system of these machines; the volume trash is tried there.
const QByteArray otherVolume = QByteArrayLiteral("/dev/shm");


unsigned modeOf(const QByteArray& path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0u;
}

QList<QByteArray> namesIn(const QByteArray& folder)
{
    QList<QByteArray> names;
    if (DIR* dir = ::opendir(folder.constData())) {
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..") {
                names.append(name);
            }
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The value of one "Key=" line of a trash record.
QByteArray recordValue(const QByteArray& record, const QByteArray& key)
{
    for (const QByteArray& line : record.split('\n')) {
        if (line.startsWith(key + '=')) {
            return line.mid(key.size() + 1);
        }
    }
    return {};
}

bool isValidUtf8(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

// What a volume trash folder held before a test, so that the test takes away
// only what it put there.
class VolumeTrashGuard
{
public:
    explicit VolumeTrashGuard(QByteArray folder)
        : m_folder(std::move(folder))
        , m_existed(ScratchDir::exists(m_folder))
        , m_files(namesIn(m_folder + "/files"))
        , m_info(namesIn(m_folder + "/info"))
    {
    }
    ~VolumeTrashGuard()
    {
        if (!m_existed) {
            ScratchDir::removeTree(m_folder);
            return;
        }
        for (const QByteArray& sub : {QByteArrayLiteral("files"), QByteArrayLiteral("info")}) {
            const QList<QByteArray>& before = sub == "files" ? m_files : m_info;
            for (const QByteArray& name : namesIn(m_folder + '/' + sub)) {
                if (!before.contains(name)) {
                    ScratchDir::removeTree(m_folder + '/' + sub + '/' + name);
                }
            }
        }
    }
    VolumeTrashGuard(const VolumeTrashGuard&) = delete;
    VolumeTrashGuard& operator=(const VolumeTrashGuard&) = delete;

    bool existed() const { return m_existed; }

private:
    QByteArray m_folder;
    bool m_existed;
    QList<QByteArray> m_files;
    QList<QByteArray> m_info;
};

} // namespace

class TestPlatformTrash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void recordFormat();
    void trashNames();
    void defaultDataHomeFollowsTheEnvironment();
    void trashesAFileIntoTheHomeTrash();
    void trashesATreeWhole();
    void nameClashesTakeTheNextName();
    void longAndNonUtf8Names();
    void linkGoesAsALink();
    void refusesTheTrashAndWhatHoldsIt();
    void refusesWhatIsNotThere();
    void failureAtEveryOperation_data();
    void failureAtEveryOperation();

    void volumeTrashOnAnotherFileSystem();
    void volumeTrashChoice_data();
    void volumeTrashChoice();
    void mountPointIsRefused();
    void volumeFailureAtEveryOperation_data();
    void volumeFailureAtEveryOperation();

private:
    QByteArray trashFolder() const { return m_dataHome + "/Trash"; }
    QByteArray ownVolumeTrash() const { return otherVolume + "/.Trash-" + QByteArray::number(::getuid()); }
    // A second scratch folder on the other file system; skips the test where there is none.
    void makeOtherVolumeScratch();
    static QByteArray record(const TrashResult& result) { return ScratchDir::readFile(result.infoPath.native()); }
    static QByteArray recordedPath(const TrashResult& result)
    {
        return QByteArray::fromPercentEncoding(recordValue(record(result), "Path"));
    }

    int m_volumeLock = -1;
    QDateTime m_now;
    std::unique_ptr<ScratchDir> m_scratch;
    std::unique_ptr<ScratchDir> m_shm;
    QByteArray m_home;
    QByteArray m_dataHome;
    std::shared_ptr<FaultInjectingFileSystem> m_fs;
    std::shared_ptr<FakeClock> m_clock;
    std::unique_ptr<PlatformTrash> m_trash;
};

void TestPlatformTrash::initTestCase()
{
    // Tests of another build may use the same volume trash at the same time.
    const QByteArray lock = QFile::encodeName(QDir::tempPath()) + "/brisko-volume-trash-tests.lock";
    m_volumeLock = ::open(lock.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (m_volumeLock >= 0) {
        ::flock(m_volumeLock, LOCK_EX);
    }
}

void TestPlatformTrash::cleanupTestCase()
{
    if (m_volumeLock >= 0) {
        ::flock(m_volumeLock, LOCK_UN);
        ::close(m_volumeLock);
    }
}

void TestPlatformTrash::init()
{
    m_scratch = std::make_unique<ScratchDir>();
    QVERIFY(m_scratch->isValid());
    m_home = m_scratch->makeDirectory("home");
    // ~/.local/share does not exist yet, as on a fresh account.
    m_dataHome = m_home + "/.local/share";
    m_fs = std::make_shared<FaultInjectingFileSystem>();
    m_now = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9));
    m_clock = std::make_shared<FakeClock>(m_now);
    m_trash = std::make_unique<PlatformTrash>(FilePath(m_dataHome), m_fs, m_clock);
}

void TestPlatformTrash::cleanup()
{
    m_trash.reset();
    m_shm.reset();
    m_scratch.reset();
}

void TestPlatformTrash::makeOtherVolumeScratch()
{
    if (ScratchDir::otherVolume() != otherVolume) {
        QSKIP("/dev/shm is missing, not writable or on the same file system as the temporary folder: "
              "no second volume to try the volume trash on");
    }
    m_shm = std::make_unique<ScratchDir>(otherVolume);
    QVERIFY(m_shm->isValid());
}

void TestPlatformTrash::recordFormat()
{
    QCOMPARE(PlatformTrash::encodePath("/home/u/a b/%#?;&=+$,ü\xff(x)!~*'-_.txt"),
             QByteArray("/home/u/a%20b/%25%23%3F%3B%26%3D%2B%24%2C%C3%BC%FF(x)!~*'-_.txt"));
    QCOMPARE(PlatformTrash::encodePath("/Отчёт"), QByteArray("/%D0%9E%D1%82%D1%87%D1%91%D1%82"));
    QCOMPARE(PlatformTrash::encodePath("line\nbreak"), QByteArray("line%0Abreak"));
    QCOMPARE(PlatformTrash::infoContents("/a%20b", m_now),
             QByteArray("[Trash Info]\nPath=/a%20b\nDeletionDate=2024-03-05T14:07:09\n"));
    // The date is written in local time whatever time zone the clock's reading is in.
    QCOMPARE(recordValue(PlatformTrash::infoContents("/x", m_now.toUTC()), "DeletionDate"),
             QByteArray("2024-03-05T14:07:09"));
}

void TestPlatformTrash::trashNames()
{
    QCOMPARE(PlatformTrash::trashName("отчёт.pdf", 1), QByteArray("отчёт.pdf"));
    QCOMPARE(PlatformTrash::trashName("отчёт.pdf", 2), QByteArray("отчёт.2.pdf"));
    QCOMPARE(PlatformTrash::trashName("Папка", 3), QByteArray("Папка.3"));
    QCOMPARE(PlatformTrash::trashName(".bashrc", 2), QByteArray(".bashrc.2"));
    QCOMPARE(PlatformTrash::trashName("archive.tar.gz", 2), QByteArray("archive.tar.2.gz"));

    // NAME.trashinfo must fit in 255 bytes, and no character is cut in half.
    const QByteArray longName = QString(200, QChar(0x0416)).toUtf8() + ".pdf";
    for (int attempt : {1, 2, 10000}) {
        const QByteArray name = PlatformTrash::trashName(longName, attempt);
        QVERIFY(name.size() + 10 <= 255);
        QVERIFY(name.size() >= 240);
        QVERIFY(isValidUtf8(name));
        QVERIFY(name.endsWith(attempt == 1 ? QByteArray(".pdf") : '.' + QByteArray::number(attempt) + ".pdf"));
    }
    const QByteArray invalid(300, '\xff');
    QCOMPARE(PlatformTrash::trashName(invalid, 1), QByteArray(245, '\xff'));
}

void TestPlatformTrash::defaultDataHomeFollowsTheEnvironment()
{
    const QByteArray savedXdg = qgetenv("XDG_DATA_HOME");
    const QByteArray savedHome = qgetenv("HOME");
    const bool hadXdg = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    qputenv("HOME", m_home);
    qputenv("XDG_DATA_HOME", "/srv/data/Данные");
    QCOMPARE(PlatformTrash::defaultDataHome(), FilePath(QByteArray("/srv/data/Данные")));
    // A relative value is to be ignored.
    qputenv("XDG_DATA_HOME", "relative/share");
    QCOMPARE(PlatformTrash::defaultDataHome(), FilePath(m_home + "/.local/share"));
    qunsetenv("XDG_DATA_HOME");
    QCOMPARE(PlatformTrash::defaultDataHome(), FilePath(m_home + "/.local/share"));
    QCOMPARE(PlatformTrash(PlatformTrash::defaultDataHome(), m_fs).homeTrashPath(), FilePath(m_dataHome + "/Trash"));
    qputenv("HOME", savedHome);
    if (hadXdg) {
        qputenv("XDG_DATA_HOME", savedXdg);
    }
}

void TestPlatformTrash::trashesAFileIntoTheHomeTrash()
{
    const QByteArray content = RepresentativeTree::content("отчёт", 5000);
    const QByteArray item = m_scratch->writeFile("home/Документы/Отчёт за март.pdf", content);
    // Nothing may land relative to the working folder.
    const QByteArray workingFolder = m_scratch->makeDirectory("working folder");
    const QString savedWorkingFolder = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QFile::decodeName(workingFolder)));

    const TrashResult result = m_trash->moveToTrash(FilePath(item));

    QDir::setCurrent(savedWorkingFolder);
    QVERIFY2(result.ok, qPrintable(result.error));
    QVERIFY(result.error.isEmpty());
    QCOMPARE(result.trashedPath, FilePath(trashFolder() + "/files/Отчёт за март.pdf"));
    QCOMPARE(result.infoPath, FilePath(trashFolder() + "/info/Отчёт за март.pdf.trashinfo"));
    QVERIFY(!ScratchDir::exists(item));
    QCOMPARE(ScratchDir::readFile(result.trashedPath.native()), content);
    QCOMPARE(record(result), "[Trash Info]\nPath=" + PlatformTrash::encodePath(item) + "\nDeletionDate=2024-03-05T14:07:09\n");
    QCOMPARE(recordedPath(result), item);
    QVERIFY(recordValue(record(result), "Path").contains("%D0%9E%D1%82%D1%87%D1%91%D1%82%20%D0%B7%D0%B0%20"));
    QVERIFY(namesIn(workingFolder).isEmpty());
    // The folders that did not exist were made private.
    for (const QByteArray& folder : {m_home + "/.local", m_dataHome, trashFolder(), trashFolder() + "/files",
                                     trashFolder() + "/info"}) {
        QCOMPARE(modeOf(folder), 0700u);
    }
    QCOMPARE(m_fs->openDescriptors(), 0);
}

void TestPlatformTrash::trashesATreeWhole()
{
    const QByteArray documents = m_scratch->makeDirectory("home/Documents");
    m_scratch->writeFile("home/Documents/письмо.txt", "текст");
    const QByteArray item = m_home + "/Проект";
    QVERIFY(RepresentativeTree::create(item, documents));
    const TreeInventory before = TreeInventory::take(item);
    const TreeInventory documentsBefore = TreeInventory::take(documents);

    const TrashResult result = m_trash->moveToTrash(FilePath(item));

    QVERIFY2(result.ok, qPrintable(result.error));
    QVERIFY(!ScratchDir::exists(item));
    const QStringList changes = TreeInventory::take(result.trashedPath.native()).differencesFrom(before);
    QVERIFY2(changes.isEmpty(), qPrintable(changes.join(QLatin1Char('\n'))));
    QVERIFY(TreeInventory::take(documents).differencesFrom(documentsBefore).isEmpty());
    QCOMPARE(recordedPath(result), item);
}

void TestPlatformTrash::nameClashesTakeTheNextName()
{
    const QByteArray first = m_scratch->writeFile("home/a/отчёт.txt", "первый");
    const QByteArray second = m_scratch->writeFile("home/b/отчёт.txt", "второй");
    const TrashResult one = m_trash->moveToTrash(FilePath(first));
    const TrashResult two = m_trash->moveToTrash(FilePath(second));
    QVERIFY(one.ok && two.ok);
    QCOMPARE(two.trashedPath, FilePath(trashFolder() + "/files/отчёт.2.txt"));
    QCOMPARE(two.infoPath, FilePath(trashFolder() + "/info/отчёт.2.txt.trashinfo"));
    QCOMPARE(ScratchDir::readFile(one.trashedPath.native()), QByteArray("первый"));
    QCOMPARE(ScratchDir::readFile(two.trashedPath.native()), QByteArray("второй"));
    QCOMPARE(recordedPath(one), first);
    QCOMPARE(recordedPath(two), second);

    // A record left by another program, without its file: kept as it is.
    const QByteArray foreignRecord = "[Trash Info]\nPath=/elsewhere/data.bin\nDeletionDate=2020-01-01T00:00:00\n";
    m_scratch->writeFile("home/.local/share/Trash/info/data.bin.trashinfo", foreignRecord);
    // A file without a record: kept as it is too.
    m_scratch->writeFile("home/.local/share/Trash/files/data.2.bin", "orphan");
    const QByteArray third = m_scratch->writeFile("home/c/data.bin", "третий");

    const TrashResult three = m_trash->moveToTrash(FilePath(third));

    QVERIFY2(three.ok, qPrintable(three.error));
    QCOMPARE(three.trashedPath, FilePath(trashFolder() + "/files/data.3.bin"));
    QCOMPARE(ScratchDir::readFile(trashFolder() + "/info/data.bin.trashinfo"), foreignRecord);
    QCOMPARE(ScratchDir::readFile(trashFolder() + "/files/data.2.bin"), QByteArray("orphan"));
    QCOMPARE(ScratchDir::readFile(three.trashedPath.native()), QByteArray("третий"));
    // The record tried for the orphan's name was taken back.
    QCOMPARE(namesIn(trashFolder() + "/info"),
             (QList<QByteArray>{"data.3.bin.trashinfo", "data.bin.trashinfo", "отчёт.2.txt.trashinfo",
                                "отчёт.txt.trashinfo"}));
    QCOMPARE(namesIn(trashFolder() + "/files"),
             (QList<QByteArray>{"data.2.bin", "data.3.bin", "отчёт.2.txt", "отчёт.txt"}));
}

void TestPlatformTrash::longAndNonUtf8Names()
{
    const QByteArray longName = QString(122, QChar(0x0416)).toUtf8() + ".pdf";
    QVERIFY(longName.size() > 245 && longName.size() <= 255);
    const QByteArray longItem = m_scratch->writeFile("home/" + longName, "long");
    const TrashResult result = m_trash->moveToTrash(FilePath(longItem));
    QVERIFY2(result.ok, qPrintable(result.error));
    const QByteArray trashedName = result.trashedPath.fileNameNative();
    QVERIFY(trashedName.size() <= 245);
    QVERIFY(isValidUtf8(trashedName));
    QVERIFY(trashedName.endsWith(".pdf"));
    QCOMPARE(recordedPath(result), longItem);

    const QByteArray oddItem = m_scratch->writeFile("home/\xff\xfe-папка/caf\xe9 \x80.bin", "bytes");
    const TrashResult odd = m_trash->moveToTrash(FilePath(oddItem));
    QVERIFY2(odd.ok, qPrintable(odd.error));
    QCOMPARE(odd.trashedPath.fileNameNative(), QByteArray("caf\xe9 \x80.bin"));
    QCOMPARE(recordedPath(odd), oddItem);
    QVERIFY(recordValue(record(odd), "Path").endsWith("/%FF%FE-%D0%BF%D0%B0%D0%BF%D0%BA%D0%B0/caf%E9%20%80.bin"));
    QCOMPARE(ScratchDir::readFile(odd.trashedPath.native()), QByteArray("bytes"));
}

void TestPlatformTrash::linkGoesAsALink()
{
    const QByteArray documents = m_scratch->makeDirectory("home/Documents");
    m_scratch->writeFile("home/Documents/важное.txt", "важное");
    const TreeInventory before = TreeInventory::take(documents);
    const QByteArray link = m_scratch->makeLink(documents, "home/Desktop/Документы");

    const TrashResult result = m_trash->moveToTrash(FilePath(link));

    QVERIFY2(result.ok, qPrintable(result.error));
    QVERIFY(!ScratchDir::exists(link));
    QVERIFY(TreeInventory::take(documents).differencesFrom(before).isEmpty());
    struct stat st;
    QCOMPARE(::lstat(result.trashedPath.native().constData(), &st), 0);
    QVERIFY(S_ISLNK(st.st_mode));
}

void TestPlatformTrash::refusesTheTrashAndWhatHoldsIt()
{
    const QByteArray kept = m_scratch->writeFile("home/kept.txt", "kept");
    QVERIFY(m_trash->moveToTrash(FilePath(kept)).ok);
    const QByteArray trashed = trashFolder() + "/files/kept.txt";
    const TreeInventory before = TreeInventory::take(m_scratch->path());

    const QString holds = QStringLiteral("Нельзя переместить в Корзину саму Корзину или папку, в которой она лежит");
    for (const QByteArray& item : {trashFolder(), m_dataHome, m_home + "/.local", m_home}) {
        const TrashResult result = m_trash->moveToTrash(FilePath(item));
        QVERIFY(!result.ok);
        QCOMPARE(result.error, holds);
    }
    // Reached through a link, the trash is still the trash.
    const QByteArray linkToLocal = m_scratch->makeLink(m_home + "/.local", "elsewhere");
    QCOMPARE(m_trash->moveToTrash(FilePath(linkToLocal + "/share")).error, holds);
    ::unlink(linkToLocal.constData());

    for (const QByteArray& item : {trashed, trashFolder() + "/files", trashFolder() + "/info"}) {
        const TrashResult result = m_trash->moveToTrash(FilePath(item));
        QVERIFY(!result.ok);
        QCOMPARE(result.error, QStringLiteral("Объект уже лежит в Корзине"));
    }
    const QStringList changes = TreeInventory::take(m_scratch->path()).differencesFrom(before);
    QVERIFY2(changes.isEmpty(), qPrintable(changes.join(QLatin1Char('\n'))));
}

void TestPlatformTrash::refusesWhatIsNotThere()
{
    const TrashResult missing = m_trash->moveToTrash(FilePath(m_home + "/нет такого.txt"));
    QVERIFY(!missing.ok);
    QCOMPARE(missing.error, platformText(ENOENT));
    QCOMPARE(m_trash->moveToTrash(FilePath(m_home + "/нет/такого.txt")).error, platformText(ENOENT));
    // No row names a real place outside the sandbox: a broken refusal must
    // not be able to reach one.
    for (const QByteArray& path : {QByteArray("home/x"), m_home + "/..", QByteArray(), m_home + "/../home",
                                   m_home + "/./x"}) {
        const TrashResult refused = m_trash->moveToTrash(FilePath(path));
        QVERIFY(!refused.ok);
        QCOMPARE(refused.error, platformText(EINVAL));
    }
    // Nothing was created on the way.
    QVERIFY(!ScratchDir::exists(m_home + "/.local"));
}

void TestPlatformTrash::failureAtEveryOperation_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("trashExists");
    for (bool exists : {false, true}) {
        const char* state = exists ? "trash exists" : "no trash yet";
        QTest::addRow("ENOSPC, %s", state) << ENOSPC << exists;
        QTest::addRow("EIO, %s", state) << EIO << exists;
        QTest::addRow("EACCES, %s", state) << EACCES << exists;
        QTest::addRow("EXDEV, %s", state) << EXDEV << exists;
    }
}

void TestPlatformTrash::failureAtEveryOperation()
{
    QFETCH(int, error);
    QFETCH(bool, trashExists);
    const QByteArray documents = m_scratch->makeDirectory("home/Documents");
    m_scratch->writeFile("home/Documents/письмо.txt", "текст");
    const QByteArray item = m_home + "/Проект";
    auto prepare = [&] {
        ScratchDir::removeTree(m_home + "/.local");
        if (trashExists) {
            m_scratch->writeFile("home/.local/share/Trash/info/старое.trashinfo", "[Trash Info]\nPath=/old\n");
            m_scratch->writeFile("home/.local/share/Trash/files/старое", "old");
        }
        return RepresentativeTree::create(item, documents);
    };
    QVERIFY(prepare());
    m_fs->resetOperationCount();
    QVERIFY(m_trash->moveToTrash(FilePath(item)).ok);
    const int operations = m_fs->operationCount();
    QVERIFY(operations >= 5);

    for (int n = 1; n <= operations; ++n) {
        const QString context = QStringLiteral("fault at operation %1").arg(n);
        ScratchDir::removeTree(item);
        QVERIFY(prepare());
        const TreeInventory original = TreeInventory::take(item);
        const TreeInventory trashBefore = TreeInventory::take(m_home + "/.local");
        const TreeInventory outside = TreeInventory::take(m_scratch->path(), {"home/Проект", "home/.local"});

        m_fs->failOperation(n, error);
        const TrashResult result = m_trash->moveToTrash(FilePath(item));
        const bool fired = m_fs->faultFired();
        m_fs->failOperation(0, 0);

        QVERIFY2(fired, qPrintable(context));
        QVERIFY2(!result.ok, qPrintable(context));
        QVERIFY2(result.error.endsWith(platformText(error)), qPrintable(context + QStringLiteral(": ") + result.error));
        QCOMPARE(m_fs->openDescriptors(), 0);
        // The item is where it was, every byte of it; the trash holds
        // nothing new but perhaps the folders it is made of.
        const QStringList atSource = TreeInventory::take(item).differencesFrom(original);
        QVERIFY2(atSource.isEmpty(), qPrintable(context + QStringLiteral(": ") + atSource.join(QLatin1Char('\n'))));
        const TreeInventory trashAfter = TreeInventory::take(m_home + "/.local");
        for (auto it = trashAfter.entries().cbegin(); it != trashAfter.entries().cend(); ++it) {
            QVERIFY2(trashBefore.entries().contains(it.key())
                         || it.value().kind == TreeInventory::Entry::Kind::Directory,
                     qPrintable(context + QStringLiteral(": left in the trash: ") + TreeInventory::display(it.key())));
        }
        QVERIFY2(trashBefore.entriesNotIn(trashAfter).isEmpty(), qPrintable(context));
        const QStringList elsewhere = TreeInventory::take(m_scratch->path(), {"home/Проект", "home/.local"})
                                          .differencesFrom(outside);
        QVERIFY2(elsewhere.isEmpty(), qPrintable(context + QStringLiteral(": ") + elsewhere.join(QLatin1Char('\n'))));
    }
}

void TestPlatformTrash::volumeTrashOnAnotherFileSystem()
{
    makeOtherVolumeScratch();
    const VolumeTrashGuard guard(ownVolumeTrash());
    const QByteArray item = m_shm->writeFile("Видео/отпуск 2023.mp4", RepresentativeTree::content("видео", 70000));
    const TreeInventory before = TreeInventory::take(item);
    const QByteArray link = m_scratch->makeLink(m_shm->filePath("Видео"), "home/Видео");

    const TrashResult result = m_trash->moveToTrash(FilePath(link + "/отпуск 2023.mp4"));

    QVERIFY2(result.ok, qPrintable(result.error));
    QVERIFY(result.trashedPath.native().startsWith(ownVolumeTrash() + "/files/отпуск 2023"));
    QVERIFY(result.infoPath.native().startsWith(ownVolumeTrash() + "/info/отпуск 2023"));
    QVERIFY(TreeInventory::take(result.trashedPath.native()).differencesFrom(before).isEmpty());
    QVERIFY(!ScratchDir::exists(item));
    // The record names the item relative to the top of its volume, along the real path.
    const QByteArray relative = item.mid(otherVolume.size() + 1);
    QCOMPARE(record(result), "[Trash Info]\nPath=" + PlatformTrash::encodePath(relative)
                                 + "\nDeletionDate=2024-03-05T14:07:09\n");
    if (!guard.existed()) {
        QCOMPARE(modeOf(ownVolumeTrash()), 0700u);
    }
    // Nothing went to the home trash, and nothing was copied.
    QVERIFY(!ScratchDir::exists(trashFolder()));
}

// What sits at the top of the volume before the move, and where the item goes:
// "shared" is .Trash/UID, "own" is .Trash-UID, "refused" nowhere.
void TestPlatformTrash::volumeTrashChoice_data()
{
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<QByteArray>("destination");
    QTest::newRow("shared sticky trash") << QByteArray("sticky") << QByteArray("shared");
    QTest::newRow("shared trash not sticky") << QByteArray("not sticky") << QByteArray("own");
    QTest::newRow("shared trash is a link to a sticky folder") << QByteArray("link") << QByteArray("own");
    QTest::newRow("own trash open to others") << QByteArray("open own") << QByteArray("refused");
}

void TestPlatformTrash::volumeTrashChoice()
{
    QFETCH(QByteArray, setup);
    QFETCH(QByteArray, destination);
    makeOtherVolumeScratch();
    const QByteArray shared = otherVolume + "/.Trash";
    if (ScratchDir::exists(shared) || (setup == "open own" && ScratchDir::exists(ownVolumeTrash()))) {
        QSKIP("a volume trash this test would change exists already; not touching it");
    }
    const VolumeTrashGuard removeShared(shared);
    const VolumeTrashGuard own(ownVolumeTrash());
    const QByteArray stickyElsewhere = m_shm->makeDirectory("sticky", 0777);
    QCOMPARE(::chmod(stickyElsewhere.constData(), 01777), 0);
    if (setup == "link") {
        QCOMPARE(::symlink(stickyElsewhere.constData(), shared.constData()), 0);
    } else if (setup == "open own") {
        QCOMPARE(::mkdir(ownVolumeTrash().constData(), 0777), 0);
        QCOMPARE(::chmod(ownVolumeTrash().constData(), 0777), 0);
    } else {
        QCOMPARE(::mkdir(shared.constData(), 0777), 0);
        QCOMPARE(::chmod(shared.constData(), setup == "sticky" ? 01777 : 0777), 0);
    }
    const QByteArray item = m_shm->writeFile("личное.txt", "private");

    const TrashResult result = m_trash->moveToTrash(FilePath(item));

    QVERIFY(namesIn(stickyElsewhere).isEmpty());
    if (destination == "refused") {
        QVERIFY(!result.ok);
        QCOMPARE(result.error, QStringLiteral("Корзина на томе «/dev/shm» недоступна: папка .Trash-")
                                   + QString::number(::getuid())
                                   + QStringLiteral(" открыта для записи другим пользователям"));
        QCOMPARE(ScratchDir::readFile(item), QByteArray("private"));
        QVERIFY(namesIn(ownVolumeTrash()).isEmpty());
        return;
    }
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(recordedPath(result), item.mid(otherVolume.size() + 1));
    if (destination == "shared") {
        const QByteArray userTrash = shared + '/' + QByteArray::number(::getuid());
        QCOMPARE(result.trashedPath, FilePath(userTrash + "/files/личное.txt"));
        QCOMPARE(modeOf(userTrash), 0700u);
        if (!own.existed()) {
            QVERIFY(!ScratchDir::exists(ownVolumeTrash()));
        }
    } else {
        QCOMPARE(result.trashedPath, FilePath(ownVolumeTrash() + "/files/личное.txt"));
        if (setup == "not sticky") {
            QVERIFY(namesIn(shared).isEmpty());
        }
    }
}

void TestPlatformTrash::mountPointIsRefused()
{
    makeOtherVolumeScratch();
    const TrashResult result = m_trash->moveToTrash(FilePath(otherVolume));
    QVERIFY(!result.ok);
    QCOMPARE(result.error, QStringLiteral("Точку монтирования тома нельзя переместить в Корзину"));
    QCOMPARE(m_fs->operationCount(), 0);
    QVERIFY(ScratchDir::exists(m_shm->path()));
}

void TestPlatformTrash::volumeFailureAtEveryOperation_data()
{
    QTest::addColumn<int>("error");
    QTest::newRow("ENOSPC") << ENOSPC;
    QTest::newRow("EIO") << EIO;
    QTest::newRow("EACCES") << EACCES;
    QTest::newRow("EXDEV") << EXDEV;
}

void TestPlatformTrash::volumeFailureAtEveryOperation()
{
    QFETCH(int, error);
    makeOtherVolumeScratch();
    const VolumeTrashGuard guard(ownVolumeTrash());
    const QByteArray documents = m_scratch->makeDirectory("home/Documents");
    // Reached through a link, so that resolving the real path is part of the run.
    const QByteArray link = m_scratch->makeLink(m_shm->path(), "home/shm");
    const QByteArray item = m_shm->filePath("Проект");
    QVERIFY(RepresentativeTree::create(item, documents));
    m_fs->resetOperationCount();
    const TrashResult counted = m_trash->moveToTrash(FilePath(link + "/Проект"));
    QVERIFY2(counted.ok, qPrintable(counted.error));
    ScratchDir::removeTree(counted.trashedPath.native());
    ScratchDir::removeTree(counted.infoPath.native());
    const int operations = m_fs->operationCount();

    for (int n = 1; n <= operations; ++n) {
        const QString context = QStringLiteral("fault at operation %1").arg(n);
        QVERIFY(RepresentativeTree::create(item, documents));
        const TreeInventory original = TreeInventory::take(item);
        const QList<QByteArray> filesBefore = namesIn(ownVolumeTrash() + "/files");
        const QList<QByteArray> infoBefore = namesIn(ownVolumeTrash() + "/info");

        m_fs->failOperation(n, error);
        const TrashResult result = m_trash->moveToTrash(FilePath(link + "/Проект"));
        const bool fired = m_fs->faultFired();
        m_fs->failOperation(0, 0);

        QVERIFY2(fired, qPrintable(context));
        QVERIFY2(!result.ok, qPrintable(context));
        QVERIFY2(result.error.endsWith(platformText(error)), qPrintable(context + QStringLiteral(": ") + result.error));
        const QStringList atSource = TreeInventory::take(item).differencesFrom(original);
        QVERIFY2(atSource.isEmpty(), qPrintable(context + QStringLiteral(": ") + atSource.join(QLatin1Char('\n'))));
        QCOMPARE(namesIn(ownVolumeTrash() + "/files"), filesBefore);
        QCOMPARE(namesIn(ownVolumeTrash() + "/info"), infoBefore);
        QVERIFY(!ScratchDir::exists(trashFolder()));
        ScratchDir::removeTree(item);
    }
}

BRISKO_TEST(TestPlatformTrash)
#include "tst_PlatformTrash.moc"
