#include "BriskoTest.h"
#include "FakeClock.h"
#include "FaultInjectingFileSystem.h"
#include "RepresentativeTree.h"
#include "ScratchDir.h"
#include "TestValues.h"
#include "TreeInventory.h"

#include "platform/PlatformTrash.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The second file system of these machines; the volume trash is tried there.
const QByteArray otherVolume = QByteArrayLiteral("/dev/shm");
const QByteArray deletionDate = QByteArrayLiteral("\nDeletionDate=2024-03-05T14:07:09\n");
const QString holdsTheTrash = QStringLiteral("Нельзя переместить в Корзину саму Корзину или папку, в которой она лежит");

unsigned modeOf(const QByteArray& path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0u;
}

QList<QByteArray> namesIn(const QByteArray& folder)
{
    QList<QByteArray> names;
    const auto filter = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    for (const QString& name : QDir(QFile::decodeName(folder)).entryList(filter))
        names.append(QFile::encodeName(name));
    std::sort(names.begin(), names.end());
    return names;
}

// What a volume trash folder held before a test, so that the test takes away
// only what it put there.
class VolumeTrashGuard
{
public:
    explicit VolumeTrashGuard(QByteArray folder)
        : m_folder(std::move(folder))
        , m_existed(ScratchDir::exists(m_folder))
        , m_before{namesIn(m_folder + "/files"), namesIn(m_folder + "/info")}
    {
    }
    ~VolumeTrashGuard()
    {
        if (!m_existed) {
            ScratchDir::removeTree(m_folder);
            return;
        }
        for (int i = 0; i < 2; ++i) {
            const QByteArray sub = m_folder + (i == 0 ? "/files" : "/info");
            for (const QByteArray& name : namesIn(sub)) {
                if (!m_before[i].contains(name))
                    ScratchDir::removeTree(sub + '/' + name);
            }
        }
    }
    bool existed() const { return m_existed; }

private:
    QByteArray m_folder;
    bool m_existed;
    QList<QByteArray> m_before[2];
};

} // namespace

class TestPlatformTrash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Tests of another build may use the same volume trash at the same time.
        const QByteArray lock = QFile::encodeName(QDir::tempPath()) + "/brisko-volume-trash-tests.lock";
        m_volumeLock = ::open(lock.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (m_volumeLock >= 0)
            ::flock(m_volumeLock, LOCK_EX);
    }
    void cleanupTestCase()
    {
        if (m_volumeLock >= 0)
            ::close(m_volumeLock);
    }
    void init()
    {
        m_scratch = std::make_unique<ScratchDir>();
        QVERIFY(m_scratch->isValid());
        m_home = m_scratch->makeDirectory("home");
        // ~/.local/share does not exist yet, as on a fresh account.
        m_dataHome = m_home + "/.local/share";
        m_fs = std::make_shared<FaultInjectingFileSystem>();
        m_trash = std::make_unique<PlatformTrash>(FilePath(m_dataHome), m_fs, std::make_shared<FakeClock>(m_now));
    }
    void cleanup()
    {
        m_trash.reset();
        m_shm.reset();
        m_scratch.reset();
    }

    void namesAndRecords()
    {
        QCOMPARE(PlatformTrash::encodePath("/home/u/a b/%#?;&=+$,ü\xff(x)!~*'-_.txt"),
                 QByteArray("/home/u/a%20b/%25%23%3F%3B%26%3D%2B%24%2C%C3%BC%FF(x)!~*'-_.txt"));
        QCOMPARE(PlatformTrash::encodePath("/Отчёт"), QByteArray("/%D0%9E%D1%82%D1%87%D1%91%D1%82"));
        QCOMPARE(PlatformTrash::encodePath("line\nbreak"), QByteArray("line%0Abreak"));
        QCOMPARE(PlatformTrash::infoContents("/a%20b", m_now), "[Trash Info]\nPath=/a%20b" + deletionDate);
        // The date is written in local time whatever time zone the clock's reading is in.
        QCOMPARE(PlatformTrash::infoContents("/x", m_now.toUTC()), "[Trash Info]\nPath=/x" + deletionDate);
        QCOMPARE(PlatformTrash::trashName("отчёт.pdf", 1), QByteArray("отчёт.pdf"));
        QCOMPARE(PlatformTrash::trashName("отчёт.pdf", 2), QByteArray("отчёт.2.pdf"));
        QCOMPARE(PlatformTrash::trashName("Папка", 3), QByteArray("Папка.3"));
        QCOMPARE(PlatformTrash::trashName(".bashrc", 2), QByteArray(".bashrc.2"));
        QCOMPARE(PlatformTrash::trashName("archive.tar.gz", 2), QByteArray("archive.tar.2.gz"));
        // NAME.trashinfo must fit in 255 bytes, and no character is cut in half.
        const QByteArray longName = QString(200, QChar(0x0416)).toUtf8() + ".pdf";
        for (int attempt : {1, 2, 10000}) {
            const QByteArray name = PlatformTrash::trashName(longName, attempt);
            QVERIFY(name.size() + 10 <= 255 && name.size() >= 240);
            QCOMPARE(QString::fromUtf8(name).toUtf8(), name);
            QVERIFY(name.endsWith(attempt == 1 ? QByteArray(".pdf") : '.' + QByteArray::number(attempt) + ".pdf"));
        }
        QCOMPARE(PlatformTrash::trashName(QByteArray(300, '\xff'), 1), QByteArray(245, '\xff'));
    }

    void defaultDataHomeFollowsTheEnvironment()
    {
        const QByteArray savedXdg = qgetenv("XDG_DATA_HOME");
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", m_home);
        qputenv("XDG_DATA_HOME", "/srv/data/Данные");
        QCOMPARE(PlatformTrash::defaultDataHome(), FilePath(QByteArray("/srv/data/Данные")));
        // A relative value is to be ignored.
        qputenv("XDG_DATA_HOME", "relative/share");
        QCOMPARE(PlatformTrash::defaultDataHome(), FilePath(m_dataHome));
        qunsetenv("XDG_DATA_HOME");
        QCOMPARE(PlatformTrash(PlatformTrash::defaultDataHome(), m_fs).homeTrashPath(), FilePath(trashFolder()));
        qputenv("HOME", savedHome);
        if (!savedXdg.isNull())
            qputenv("XDG_DATA_HOME", savedXdg);
    }

    // An item of each kind, under its own name or the longest one that fits.
    void trashesIntoTheHomeTrash_data()
    {
        QTest::addColumn<QByteArray>("relative");
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<QByteArray>("trashedName");
        QTest::newRow("file") << QByteArray("home/Документы/Отчёт за март.pdf") << QByteArray("file")
                              << QByteArray("Отчёт за март.pdf");
        QTest::newRow("tree, whole") << QByteArray("home/Проект") << QByteArray("tree") << QByteArray("Проект");
        QTest::newRow("link, as a link") << QByteArray("home/Desktop/Документы") << QByteArray("link")
                                         << QByteArray("Документы");
        QTest::newRow("name too long") << "home/" + QString(122, QChar(0x0416)).toUtf8() + ".pdf" << QByteArray("file")
                                       << QString(120, QChar(0x0416)).toUtf8() + ".pdf";
        QTest::newRow("not UTF-8") << QByteArray("home/\xff\xfe-папка/caf\xe9 \x80.bin") << QByteArray("file")
                                   << QByteArray("caf\xe9 \x80.bin");
    }

    void trashesIntoTheHomeTrash()
    {
        QFETCH(QByteArray, relative);
        QFETCH(QByteArray, kind);
        QFETCH(QByteArray, trashedName);
        const QByteArray documents = makeDocuments();
        const QByteArray item = m_scratch->filePath(relative);
        if (kind == "tree")
            QVERIFY(RepresentativeTree::create(item, documents));
        else if (kind == "link")
            m_scratch->makeLink(documents, relative);
        else
            m_scratch->writeFile(relative, RepresentativeTree::content(relative, 5000));
        const TreeInventory before = TreeInventory::take(item);
        const TreeInventory documentsBefore = TreeInventory::take(documents);
        // Nothing may land relative to the working folder.
        const QByteArray workingFolder = m_scratch->makeDirectory("working folder");
        const QString savedWorkingFolder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QFile::decodeName(workingFolder)));
        const TrashResult result = m_trash->moveToTrash(FilePath(item));
        QDir::setCurrent(savedWorkingFolder);
        QVERIFY2(result.ok && result.error.isEmpty(), qPrintable(result.error));
        QCOMPARE(result.trashedPath, FilePath(trashFolder() + "/files/" + trashedName));
        QCOMPARE(result.infoPath, FilePath(trashFolder() + "/info/" + trashedName + ".trashinfo"));
        QVERIFY(!ScratchDir::exists(item));
        QCOMPARE(TreeInventory::take(result.trashedPath.native()).differencesFrom(before), QStringList());
        QCOMPARE(TreeInventory::take(documents).differencesFrom(documentsBefore), QStringList());
        QCOMPARE(record(result), "[Trash Info]\nPath=" + PlatformTrash::encodePath(item) + deletionDate);
        QVERIFY(namesIn(workingFolder).isEmpty());
        // The folders that did not exist were made private.
        for (const QByteArray& folder :
             {m_home + "/.local", m_dataHome, trashFolder(), trashFolder() + "/files", trashFolder() + "/info"})
            QCOMPARE(modeOf(folder), 0700u);
        QCOMPARE(m_fs->openDescriptors(), 0);
    }

    // A record left by another program without its file, and a file without
    // a record, hold their names: both are kept and the next name is taken.
    void nameClashesTakeTheNextName()
    {
        const QByteArray foreignRecord = "[Trash Info]\nPath=/elsewhere/data.bin\nDeletionDate=2020-01-01T00:00:00\n";
        m_scratch->writeFile("home/.local/share/Trash/info/data.bin.trashinfo", foreignRecord);
        m_scratch->writeFile("home/.local/share/Trash/files/data.2.bin", "orphan");
        const QByteArray first = m_scratch->writeFile("home/a/data.bin", "первый");
        const TrashResult one = m_trash->moveToTrash(FilePath(first));
        const TrashResult two = m_trash->moveToTrash(FilePath(m_scratch->writeFile("home/b/data.bin", "второй")));
        QVERIFY2(one.ok && two.ok, qPrintable(one.error + two.error));
        QCOMPARE(record(one), "[Trash Info]\nPath=" + PlatformTrash::encodePath(first) + deletionDate);
        QCOMPARE(ScratchDir::readFile(trashFolder() + "/info/data.bin.trashinfo"), foreignRecord);
        QCOMPARE(ScratchDir::readFile(trashFolder() + "/files/data.2.bin"), QByteArray("orphan"));
        QCOMPARE(ScratchDir::readFile(trashFolder() + "/files/data.3.bin"), QByteArray("первый"));
        QCOMPARE(ScratchDir::readFile(two.trashedPath.native()), QByteArray("второй"));
        // The record tried for the orphan's name was taken back.
        QCOMPARE(namesIn(trashFolder() + "/info"),
                 (QList<QByteArray>{"data.3.bin.trashinfo", "data.4.bin.trashinfo", "data.bin.trashinfo"}));
        QCOMPARE(namesIn(trashFolder() + "/files"), (QList<QByteArray>{"data.2.bin", "data.3.bin", "data.4.bin"}));
    }

    // Paths are below the scratch folder; "=" takes the rest as it is. No
    // row names a real place outside the sandbox: a broken refusal must not
    // be able to reach one.
    void refusals_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("trashExists");
        QTest::addColumn<QString>("error");
        for (const char* path : {"home/.local/share/Trash", "home/.local/share", "home/.local", "home",
                                 "link to .local/share"})
            QTest::newRow(path) << QByteArray(path) << true << holdsTheTrash;
        for (const char* path : {"home/.local/share/Trash/files/kept.txt", "home/.local/share/Trash/files",
                                 "home/.local/share/Trash/info"})
            QTest::newRow(path) << QByteArray(path) << true << QStringLiteral("Объект уже лежит в Корзине");
        for (const char* path : {"home/нет такого.txt", "home/нет/такого.txt"})
            QTest::newRow(path) << QByteArray(path) << false << platformText(ENOENT);
        for (const char* path : {"=home/x", "=", "home/..", "home/../home", "home/./x"})
            QTest::newRow(path) << QByteArray(path) << false << platformText(EINVAL);
        QTest::newRow("mount point") << "=" + otherVolume << false
                                     << QStringLiteral("Точку монтирования тома нельзя переместить в Корзину");
    }

    void refusals()
    {
        QFETCH(QByteArray, path);
        QFETCH(bool, trashExists);
        QFETCH(QString, error);
        if (path.endsWith(otherVolume))
            makeOtherVolumeScratch();
        if (trashExists) {
            QVERIFY(m_trash->moveToTrash(FilePath(m_scratch->writeFile("home/kept.txt", "kept"))).ok);
            m_scratch->makeLink(m_home + "/.local", "link to .local");
        }
        const TreeInventory before = TreeInventory::take(m_scratch->path());
        const TrashResult result =
            m_trash->moveToTrash(FilePath(path.startsWith('=') ? path.mid(1) : m_scratch->filePath(path)));
        QVERIFY(!result.ok);
        QCOMPARE(result.error, error);
        QCOMPARE(TreeInventory::take(m_scratch->path()).differencesFrom(before), QStringList());
    }

    void failureAtEveryOperation_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QByteArray>("trash"); // the home trash "new" or "old", or the "volume" trash
        const std::pair<int, const char*> errors[] = {{ENOSPC, "ENOSPC"}, {EIO, "EIO"}, {EACCES, "EACCES"}, {EXDEV, "EXDEV"}};
        for (const char* trash : {"new", "old", "volume"}) {
            for (const auto& [error, name] : errors)
                QTest::addRow("%s, %s trash", name, trash) << error << QByteArray(trash);
        }
    }

    void failureAtEveryOperation()
    {
        QFETCH(int, error);
        QFETCH(QByteArray, trash);
        const bool volume = trash == "volume";
        std::optional<VolumeTrashGuard> guard;
        if (volume) {
            makeOtherVolumeScratch();
            guard.emplace(ownVolumeTrash());
        }
        const QByteArray documents = makeDocuments();
        const QByteArray item = volume ? m_shm->filePath("Проект") : m_home + "/Проект";
        // A volume item is reached through a link, so that resolving the real path is part of the run.
        const FilePath given(volume ? m_scratch->makeLink(m_shm->path(), "home/shm") + "/Проект" : item);
        const QByteArray trashRoot = volume ? ownVolumeTrash() : m_home + "/.local";
        const auto prepare = [&] {
            ScratchDir::removeTree(item);
            if (!volume)
                ScratchDir::removeTree(trashRoot);
            if (trash == "old") {
                m_scratch->writeFile("home/.local/share/Trash/info/старое.trashinfo", "[Trash Info]\nPath=/old\n");
                m_scratch->writeFile("home/.local/share/Trash/files/старое", "old");
            }
            return RepresentativeTree::create(item, documents);
        };
        QVERIFY(prepare());
        m_fs->resetOperationCount();
        const TrashResult counted = m_trash->moveToTrash(given);
        QVERIFY2(counted.ok, qPrintable(counted.error));
        ScratchDir::removeTree(counted.trashedPath.native());
        ScratchDir::removeTree(counted.infoPath.native());
        const int operations = m_fs->operationCount();
        QVERIFY(operations >= 5);
        for (int n = 1; n <= operations; ++n) {
            const QString context = QStringLiteral("fault at operation %1").arg(n);
            QVERIFY(prepare());
            const TreeInventory original = TreeInventory::take(item);
            const TreeInventory trashBefore = TreeInventory::take(trashRoot);
            const TreeInventory outside = TreeInventory::take(m_scratch->path(), {"home/Проект", "home/.local"});
            m_fs->failOperation(n, error);
            const TrashResult result = m_trash->moveToTrash(given);
            const bool fired = m_fs->faultFired();
            m_fs->failOperation(0, 0);
            QVERIFY2(fired && !result.ok, qPrintable(context));
            QVERIFY2(result.error.endsWith(platformText(error)), qPrintable(context + QStringLiteral(": ") + result.error));
            QCOMPARE(m_fs->openDescriptors(), 0);
            // The item is where it was, every byte of it; the trash holds
            // nothing new but perhaps the folders it is made of.
            QCOMPARE(TreeInventory::take(item).differencesFrom(original), QStringList());
            const TreeInventory trashAfter = TreeInventory::take(trashRoot);
            for (auto it = trashAfter.entries().cbegin(); it != trashAfter.entries().cend(); ++it) {
                const bool trashFolder = it.value().kind == TreeInventory::Entry::Kind::Directory
                    && !it.key().contains("files/") && !it.key().contains("info/");
                QVERIFY2(trashBefore.entries().contains(it.key()) || trashFolder,
                         qPrintable(context + QStringLiteral(": left in the trash: ") + TreeInventory::display(it.key())));
            }
            QVERIFY2(trashBefore.entriesNotIn(trashAfter).isEmpty(), qPrintable(context));
            QCOMPARE(TreeInventory::take(m_scratch->path(), {"home/Проект", "home/.local"}).differencesFrom(outside),
                     QStringList());
            QVERIFY(!volume || !ScratchDir::exists(m_home + "/.local"));
        }
    }

    // What sits at the top of the volume before the move, and where the item
    // goes: "shared" is .Trash/UID, "own" is .Trash-UID, "refused" nowhere.
    // The item is reached through a link: the record names it relative to
    // the top of its volume along the real path.
    void volumeTrashChoice_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::addColumn<QByteArray>("destination");
        QTest::newRow("nothing") << QByteArray("nothing") << QByteArray("own");
        QTest::newRow("shared sticky trash") << QByteArray("sticky") << QByteArray("shared");
        QTest::newRow("shared trash not sticky") << QByteArray("not sticky") << QByteArray("own");
        QTest::newRow("shared trash is a link to a sticky folder") << QByteArray("link") << QByteArray("own");
        QTest::newRow("own trash open to others") << QByteArray("open own") << QByteArray("refused");
    }

    void volumeTrashChoice()
    {
        QFETCH(QByteArray, setup);
        QFETCH(QByteArray, destination);
        makeOtherVolumeScratch();
        const QByteArray shared = otherVolume + "/.Trash";
        if (ScratchDir::exists(shared) || (setup == "open own" && ScratchDir::exists(ownVolumeTrash())))
            QSKIP("a volume trash this test would change exists already; not touching it");
        const VolumeTrashGuard removeShared(shared);
        const VolumeTrashGuard own(ownVolumeTrash());
        const QByteArray stickyElsewhere = m_shm->makeDirectory("sticky", 0777);
        QCOMPARE(::chmod(stickyElsewhere.constData(), 01777), 0);
        if (setup == "link") {
            QCOMPARE(::symlink(stickyElsewhere.constData(), shared.constData()), 0);
        } else if (setup == "open own") {
            QCOMPARE(::mkdir(ownVolumeTrash().constData(), 0777), 0);
            QCOMPARE(::chmod(ownVolumeTrash().constData(), 0777), 0);
        } else if (setup != "nothing") {
            QCOMPARE(::mkdir(shared.constData(), 0777), 0);
            QCOMPARE(::chmod(shared.constData(), setup == "sticky" ? 01777 : 0777), 0);
        }
        const QByteArray content = RepresentativeTree::content("видео", 70000);
        const QByteArray item = m_shm->writeFile("Видео/личное.mp4", content);
        const QByteArray link = m_scratch->makeLink(m_shm->filePath("Видео"), "home/Видео");
        const TrashResult result = m_trash->moveToTrash(FilePath(link + "/личное.mp4"));
        QVERIFY(namesIn(stickyElsewhere).isEmpty());
        QVERIFY(!ScratchDir::exists(trashFolder()));
        if (destination == "refused") {
            QVERIFY(!result.ok);
            QCOMPARE(result.error, QStringLiteral("Корзина на томе «/dev/shm» недоступна: папка .Trash-")
                                       + QString::number(::getuid())
                                       + QStringLiteral(" открыта для записи другим пользователям"));
            QCOMPARE(ScratchDir::readFile(item), content);
            QVERIFY(namesIn(ownVolumeTrash()).isEmpty());
            return;
        }
        QVERIFY2(result.ok, qPrintable(result.error));
        QVERIFY(!ScratchDir::exists(item));
        QCOMPARE(ScratchDir::readFile(result.trashedPath.native()), content);
        QCOMPARE(record(result),
                 "[Trash Info]\nPath=" + PlatformTrash::encodePath(item.mid(otherVolume.size() + 1)) + deletionDate);
        if (destination == "shared") {
            const QByteArray userTrash = shared + '/' + QByteArray::number(::getuid());
            QCOMPARE(result.trashedPath, FilePath(userTrash + "/files/личное.mp4"));
            QCOMPARE(modeOf(userTrash), 0700u);
            QVERIFY(own.existed() || !ScratchDir::exists(ownVolumeTrash()));
        } else {
            QCOMPARE(result.trashedPath, FilePath(ownVolumeTrash() + "/files/личное.mp4"));
            QCOMPARE(result.infoPath, FilePath(ownVolumeTrash() + "/info/личное.mp4.trashinfo"));
            QVERIFY(own.existed() || modeOf(ownVolumeTrash()) == 0700u);
            QVERIFY(setup != "not sticky" || namesIn(shared).isEmpty());
        }
    }

private:
    QByteArray trashFolder() const { return m_dataHome + "/Trash"; }
    QByteArray ownVolumeTrash() const { return otherVolume + "/.Trash-" + QByteArray::number(::getuid()); }
    static QByteArray record(const TrashResult& result) { return ScratchDir::readFile(result.infoPath.native()); }
    // A folder the trashed trees link into, which must come through untouched.
    QByteArray makeDocuments()
    {
        m_scratch->writeFile("home/Documents/письмо.txt", "текст");
        return m_scratch->filePath("home/Documents");
    }
    // A second scratch folder on the other file system; skips the test where there is none.
    void makeOtherVolumeScratch()
    {
        if (ScratchDir::otherVolume() != otherVolume)
            QSKIP("/dev/shm is missing, not writable or on the same file system as the temporary folder: "
                  "no second volume to try the volume trash on");
        m_shm = std::make_unique<ScratchDir>(otherVolume);
        QVERIFY(m_shm->isValid());
    }

    int m_volumeLock = -1;
    const QDateTime m_now{QDate(2024, 3, 5), QTime(14, 7, 9)};
    std::unique_ptr<ScratchDir> m_scratch;
    std::unique_ptr<ScratchDir> m_shm;
    QByteArray m_home;
    QByteArray m_dataHome;
    std::shared_ptr<FaultInjectingFileSystem> m_fs;
    std::unique_ptr<PlatformTrash> m_trash;
};

BRISKO_TEST(TestPlatformTrash)
#include "tst_PlatformTrash.moc"
