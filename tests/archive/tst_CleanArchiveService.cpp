#include "BriskoTest.h"
#include "ArchiveSandbox.h"
#include "TempHome.h"

#include "archive/CleanArchiveDigest.h"
#include "fileops/ItemTransfer.h"
#include "scan/HomeLayout.h"

#include <QDir>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The fault-injecting file system with one file that cannot be opened for
// reading (EACCES), as a file without read permission is for anyone but
// root; the tests run as root on CI, where permissions would not stop them.
class UnreadableFileSystem : public FaultInjectingFileSystem
{
public:
    explicit UnreadableFileSystem(QByteArray unreadable)
        : m_unreadable(std::move(unreadable))
    {
    }

    int openFileAt(int dirFd, const char* name, const QByteArray& fullPath, int flags, unsigned mode,
                   int* fd) const override
    {
        if (fullPath == m_unreadable && (flags & O_ACCMODE) == O_RDONLY) {
            *fd = -1;
            return EACCES;
        }
        return FaultInjectingFileSystem::openFileAt(dirFd, name, fullPath, flags, mode, fd);
    }

private:
    QByteArray m_unreadable;
};

QString statusOf(const CleanArchiveProgress& p)
{
    return QStringLiteral("%1|%2|%3|%4").arg(p.isRunning).arg(p.currentTask).arg(p.progress).arg(p.filesCopied);
}

QStringList names(const QByteArray& folder)
{
    QStringList list = QDir(QFile::decodeName(folder))
                           .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    list.sort();
    return list;
}

QByteArrayList tarListing(const QByteArray& archive)
{
    QProcess tar;
    tar.start(QStringLiteral("/usr/bin/tar"), {QStringLiteral("-taf"), QFile::decodeName(archive)});
    tar.waitForFinished();
    QByteArrayList lines = tar.readAllStandardOutput().split('\n');
    lines.removeAll(QByteArray());
    std::sort(lines.begin(), lines.end());
    return lines;
}

} // namespace

class tst_CleanArchiveService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void copiesTheProfileWithItsRules();
    void folderDigestJoinsSortedLines();
    void packsIntoTarZstOrKeepsThePayload_data();
    void packsIntoTarZstOrKeepsThePayload();
    void profilesCopyTheUserFoldersUnderTheirRealNames();
    void profileWithoutFoldersWritesNothing();
    void unreadablePartIsReportedAndTheRestGoesOn_data();
    void unreadablePartIsReportedAndTheRestGoesOn();
    void neverCopiesTheArchiveFolderIntoItself_data();
    void neverCopiesTheArchiveFolderIntoItself();
    void aTreeTooDeepEndsInAnErrorNotACrash();
    void listsNewestFirstAndLeavesOutTheRest();
    void restoresPlainAndPackedArchivesExactly_data();
    void restoresPlainAndPackedArchivesExactly();
    void restoreSkipsWhatExists();
    void stopKeepsWhatIsCompleteAndNothingPartial();
    void restoreRefusesBrokenParts_data();
    void restoreRefusesBrokenParts();
    void restoreDropsSetIdBits();
    void restoreSurvivesAFaultAtEveryOperation();

private:
    std::unique_ptr<ArchiveSandbox> m_box;
};

void tst_CleanArchiveService::init()
{
    m_box = std::make_unique<ArchiveSandbox>();
    QVERIFY(m_box->isValid());
}

void tst_CleanArchiveService::copiesTheProfileWithItsRules()
{
    ArchiveSandbox& box = *m_box;
    box.writeHome("Documents/отчёт.txt", "годовой отчёт\n", 0640);
    box.writeHome("Documents/sub/deeper/a.bin", QByteArray(70000, 'a'));
    box.writeHome(QByteArray("Documents/caf\xe9.txt"), "latin-1 name\n");
    box.writeHome("Documents/.hidden", "skip me");
    box.writeHome("Documents/sub/.cache/x", "skip me");
    box.writeHome("Documents/project/node_modules/pkg/index.js", "skip me");
    box.writeHome("Documents/project/.git/HEAD", "skip me");
    box.writeHome("Documents/project/src/main.c", "int main;\n");
    box.writeHome("Documents/Secret Notes/n.txt", "excluded by name");
    box.writeHome("Documents/installer.zip/inside.txt", "a folder named like an archive stays");
    box.writeHome("Desktop/setup.DMG", "installer");
    box.writeHome("Desktop/notes.dmg.txt", "notes");
    box.writeHome("Desktop/run.sh", "#!/bin/sh\n", 0750);
    box.scratch().makeLink("../Desktop/notes.dmg.txt", "home/Documents/link-to-notes");
    ::chmod(box.path("home/Documents/sub/deeper").constData(), 0555);
    TempHome::setModified(QFile::decodeName(box.path("home/Documents/отчёт.txt")),
                          QDateTime(QDate(2021, 5, 6), QTime(7, 8, 9)));
    const TreeInventory sourcesBefore = box.homeInventory();

    AppSettings settings = box.settings(false);
    settings.excludedPaths = {QStringLiteral("Secret Notes")};
    QStringList reports;
    const CleanArchiveCreateResult result = box.service().create(
        CleanArchiveProfile::essential, settings, [&](const CleanArchiveProgress& p) { reports.append(statusOf(p)); });

    QVERIFY2(result.errors.isEmpty(), qPrintable(result.errors.join(QLatin1Char('\n'))));
    QCOMPARE(result.archiveURL, box.cleanArchives().child(QByteArrayLiteral("Brisko_2026-03-14_093015")));
    QCOMPARE(result.copiedFiles, 2);
    QCOMPARE(reports,
             (QStringList{QStringLiteral("1|Подготовка…|0|0"), QStringLiteral("1|Копирование Documents…|0|0"),
                          QStringLiteral("1|Копирование Desktop…|0.5|0"), QStringLiteral("0|Готово|1|2")}));
    // The sources are only read.
    QCOMPARE(box.homeInventory().differencesFrom(sourcesBefore), QStringList());

    const QByteArray payload = result.archiveURL.native() + "/payload";
    const TreeInventory copy = TreeInventory::take(payload);
    QCOMPARE(copy.entries().keys(),
             (QList<QByteArray>{"", "Desktop", "Desktop/notes.dmg.txt", "Desktop/run.sh", "Documents", "Documents/caf\xe9.txt",
                                "Documents/installer.zip", "Documents/installer.zip/inside.txt", "Documents/link-to-notes",
                                "Documents/project", "Documents/project/src", "Documents/project/src/main.c",
                                "Documents/sub", "Documents/sub/deeper", "Documents/sub/deeper/a.bin",
                                "Documents/отчёт.txt"}));
    // Content, permissions, file times and links as in the source.
    for (auto it = copy.entries().cbegin(); it != copy.entries().cend(); ++it) {
        if (it.key().isEmpty()) {
            continue;
        }
        const TreeInventory::Entry& original = sourcesBefore.entries().value(it.key());
        QVERIFY2(it->sameAs(original), it.key().constData());
    }
    QCOMPARE(copy.entries().value("Documents/link-to-notes").linkTarget, QByteArray("../Desktop/notes.dmg.txt"));

    const CleanArchiveManifest& manifest = result.manifest;
    QCOMPARE(manifest.version, 1);
    QCOMPARE(manifest.profile, QStringLiteral("essential"));
    QCOMPARE(manifest.profileTitle, QStringLiteral("Документы и рабочий стол"));
    QCOMPARE(manifest.homeDirectory, box.home().toString());
    QCOMPARE(manifest.createdAt, box.clock->now().toUTC());
    QVERIFY(!manifest.compression && !manifest.compressedBytes && !manifest.compressedSHA256
            && !manifest.archiveFileName);
    QCOMPARE(manifest.entries.size(), 2);
    const CleanArchiveEntry& documents = manifest.entries.at(0);
    QCOMPARE(documents.relativePath, QStringLiteral("Documents"));
    QVERIFY(documents.isDirectory);
    // The digest is the copy's, computed as its own test shows.
    CleanArchiveDigest digests(box.fs);
    QCOMPARE(documents.sha256.value_or(QString()),
             QString::fromLatin1(digests.directoryDigest(FilePath(payload + "/Documents")).value_or("none")));
    QCOMPARE(documents.size, digests.entrySize(FilePath(payload + "/Documents")));
    QVERIFY(documents.size >= 70000 + 4 * 4096);
    QCOMPARE(manifest.totalBytes, documents.size + manifest.entries.at(1).size);

    // The manifest on disk is the manifest returned.
    const std::optional<CleanArchiveManifest> written =
        CleanArchiveManifest::fromJson(ScratchDir::readFile(result.archiveURL.native() + "/manifest.json"));
    QVERIFY(written);
    QVERIFY(*written == manifest);
}

void tst_CleanArchiveService::folderDigestJoinsSortedLines()
{
    m_box->writeHome("Projects/b/c", "second");
    m_box->writeHome("Projects/a", "first");
    m_box->writeHome("Projects/.hidden/z", "skipped");
    m_box->scratch().makeLink("a", "home/Projects/link");
    const QByteArray text = "a\t" + independentSha256("first") + "\nb/c\t" + independentSha256("second");
    CleanArchiveDigest digests(m_box->fs);
    QCOMPARE(digests.directoryDigest(m_box->home().child(QByteArrayLiteral("Projects"))), independentSha256(text));
    QCOMPARE(digests.fileDigest(m_box->home().child(QByteArrayLiteral("Projects/a"))), independentSha256("first"));
    // A link is never read through.
    QVERIFY(!digests.fileDigest(m_box->home().child(QByteArrayLiteral("Projects/link"))));
}

void tst_CleanArchiveService::packsIntoTarZstOrKeepsThePayload_data()
{
    QTest::addColumn<QString>("tar");
    QTest::addColumn<QString>("error");
    QTest::newRow("packed") << CleanArchiveCompression::defaultTar << QString();
    QTest::newRow("no tar") << "/nonexistent/tar" << "tar.zst недоступен — сохранён несжатый payload/";
    QTest::newRow("tar fails") << "/bin/false" << "Сжатие: Не удалось создать tar.zst (проверьте /usr/bin/tar).";
}

void tst_CleanArchiveService::packsIntoTarZstOrKeepsThePayload()
{
    QFETCH(QString, tar);
    QFETCH(QString, error);
    m_box->writeHome("Movies/clip.mov", QByteArray(200000, 'm'));
    m_box->writeHome("Music/Песня.mp3", "la la la");
    QStringList reports;
    const CleanArchiveCreateResult result = m_box->service(tar).create(
        CleanArchiveProfile::creative, m_box->settings(true), [&](const CleanArchiveProgress& p) { reports.append(statusOf(p)); });
    const QByteArray manifestText = ScratchDir::readFile(result.archiveURL.native() + "/manifest.json");
    QCOMPARE(result.copiedFiles, 2);
    // Packing is announced once tar is found to be there.
    QCOMPARE(reports.contains(QStringLiteral("1|Сжатие tar.zst…|0.92|0")), !tar.startsWith(QLatin1String("/nonexistent")));
    if (!error.isEmpty()) {
        QCOMPARE(result.errors, QStringList{error});
        QCOMPARE(names(result.archiveURL.native()), (QStringList{QStringLiteral("manifest.json"), QStringLiteral("payload")}));
        QVERIFY(!manifestText.contains("compress") && !manifestText.contains("archiveFileName"));
        QVERIFY(!result.manifest.compression);
        // Without packing, nothing to pack and no message.
        m_box->clock->advance(1);
        QVERIFY(m_box->service(tar).create(CleanArchiveProfile::creative, m_box->settings(false), {}).errors.isEmpty());
        return;
    }
    QVERIFY2(result.errors.isEmpty(), qPrintable(result.errors.join(QLatin1Char('\n'))));
    QCOMPARE(names(result.archiveURL.native()), (QStringList{QStringLiteral("archive.tar.zst"), QStringLiteral("manifest.json")}));
    const QByteArray packed = result.archiveURL.native() + "/archive.tar.zst";
    const QByteArray content = ScratchDir::readFile(packed);
    QCOMPARE(result.manifest.compression, QStringLiteral("tar.zst"));
    QCOMPARE(result.manifest.archiveFileName, QStringLiteral("archive.tar.zst"));
    QCOMPARE(result.manifest.compressedBytes, content.size());
    QCOMPARE(result.manifest.compressedSHA256, QString::fromLatin1(independentSha256(content)));
    QVERIFY(content.size() < 200000);
    // The content of payload/, with paths relative to it.
    QCOMPARE(tarListing(packed), (QByteArrayList{"./", "./Movies/", "./Movies/clip.mov", "./Music/", "./Music/Песня.mp3"}));
    QVERIFY(manifestText.contains("\"archiveFileName\": \"archive.tar.zst\""));
}

void tst_CleanArchiveService::profilesCopyTheUserFoldersUnderTheirRealNames()
{
    ArchiveSandbox& box = *m_box;
    box.writeHome(".config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Документы\"\n"
                                            "XDG_DESKTOP_DIR=\"$HOME/Рабочий стол\"\n"
                                            "XDG_DOWNLOAD_DIR=\"$HOME/Загрузки\"\n");
    box.writeHome("Документы/план.txt", "план\n");
    box.writeHome("Рабочий стол/заметка.txt", "заметка\n");
    box.writeHome("Загрузки/пакет.deb", "installer");
    box.writeHome("Загрузки/Приложение.AppImage", "installer");
    box.writeHome("Загрузки/счёт.pdf", "pdf");
    box.writeHome("Documents/old.txt", "not the user's documents folder");
    const HomeLayout layout = HomeLayout::freedesktop(box.home(), QProcessEnvironment());

    const CleanArchiveCreateResult result = CleanArchiveService(box.fs, layout, box.clock, box.temporary())
                                                .create(CleanArchiveProfile::essential, box.settings(false), {});
    QVERIFY2(result.errors.isEmpty(), qPrintable(result.errors.join(QLatin1Char('\n'))));
    QStringList names;
    for (const CleanArchiveEntry& entry : result.manifest.entries) {
        names.append(entry.relativePath);
    }
    QCOMPARE(names, (QStringList{QStringLiteral("Документы"), QStringLiteral("Рабочий стол"),
                                 QStringLiteral("Загрузки")}));
    const QByteArray payload = result.archiveURL.native() + "/payload/";
    QVERIFY(ScratchDir::exists(payload + "Загрузки/счёт.pdf"));
    QVERIFY(!ScratchDir::exists(payload + "Загрузки/пакет.deb"));
    QVERIFY(!ScratchDir::exists(payload + "Загрузки/Приложение.AppImage"));
}

void tst_CleanArchiveService::profileWithoutFoldersWritesNothing()
{
    QStringList reports;
    const CleanArchiveCreateResult result =
        m_box->service().create(CleanArchiveProfile::developer, m_box->settings(true),
                                [&](const CleanArchiveProgress& p) { reports.append(statusOf(p)); });
    QCOMPARE(result.errors, QStringList{QStringLiteral("Не найдены папки профиля «Разработка»")});
    QCOMPARE(result.copiedFiles, 0);
    QVERIFY(result.manifest.entries.isEmpty());
    QCOMPARE(result.manifest.totalBytes, 0);
    QCOMPARE(reports.last(), QStringLiteral("0|Нет данных для архива|0|0"));
    QVERIFY(!ScratchDir::exists(m_box->cleanArchives().native()));
}

void tst_CleanArchiveService::unreadablePartIsReportedAndTheRestGoesOn_data()
{
    QTest::addColumn<bool>("packed");
    QTest::newRow("folder that breaks while read, packed") << true;
    QTest::newRow("file that cannot be opened") << false;
}

void tst_CleanArchiveService::unreadablePartIsReportedAndTheRestGoesOn()
{
    QFETCH(bool, packed);
    m_box->writeHome("Documents/readable.txt", "ok");
    const QByteArray secret = m_box->writeHome("Documents/private/secret.txt", "cannot be read", 0);
    m_box->writeHome("Desktop/b.txt", "b");
    std::shared_ptr<FaultInjectingFileSystem> fs = std::make_shared<UnreadableFileSystem>(secret);
    QString expected = QStringLiteral("Documents: ") + ItemTransfer::describe(EACCES) + QStringLiteral(" (")
        + QFile::decodeName(secret) + QStringLiteral(")");
    if (packed) {
        fs = m_box->fs;
        fs->failRead(m_box->path("home/Documents/private"));
        expected = QStringLiteral("Documents: ");
    }
    const CleanArchiveCreateResult result =
        CleanArchiveService(fs, HomeLayout::original(m_box->home()), m_box->clock, m_box->temporary())
            .create(CleanArchiveProfile::essential, m_box->settings(packed), {});
    QCOMPARE(result.errors.size(), 1);
    QVERIFY2(result.errors.first().startsWith(expected), qPrintable(result.errors.first()));
    QVERIFY(result.errors.first().contains(QStringLiteral("Documents/private")));
    QCOMPARE(result.copiedFiles, 1);
    QCOMPARE(result.manifest.entries.size(), 1);
    QCOMPARE(result.manifest.entries.first().relativePath, QStringLiteral("Desktop"));
    // What is kept holds exactly what the manifest lists, and lists as written.
    if (packed) {
        QCOMPARE(tarListing(result.archiveURL.native() + "/archive.tar.zst"),
                 (QByteArrayList{"./", "./Desktop/", "./Desktop/b.txt"}));
    } else {
        QCOMPARE(names(result.archiveURL.native() + "/payload"), QStringList{QStringLiteral("Desktop")});
    }
    QCOMPARE(m_box->listed(result.archiveURL.fileNameNative())->manifest, result.manifest);
}

void tst_CleanArchiveService::neverCopiesTheArchiveFolderIntoItself_data()
{
    QTest::addColumn<QByteArray>("archivePath");
    QTest::addColumn<QByteArray>("profileFolder");
    QTest::newRow("inside a profile folder") << QByteArray("Movies/Brisko Archive") << QByteArray("Movies");
    // Its clean archives, the one being made included, are never copied.
    QTest::newRow("a profile folder itself") << QByteArray("Movies") << QByteArray("Movies");
}

void tst_CleanArchiveService::neverCopiesTheArchiveFolderIntoItself()
{
    QFETCH(QByteArray, archivePath);
    QFETCH(QByteArray, profileFolder);
    m_box->writeHome("Movies/film.mkv", "film");
    m_box->writeHome(archivePath + "/old.bin", "moved here earlier");
    AppSettings settings = m_box->settings(false);
    settings.archivePath = QFile::decodeName(m_box->path("home/" + archivePath));
    for (int round = 0; round < 2; ++round) {
        const CleanArchiveCreateResult result = m_box->service().create(CleanArchiveProfile::creative, settings, {});
        QVERIFY2(result.errors.isEmpty(), qPrintable(result.errors.join(u'\n')));
        QStringList expected{QStringLiteral("film.mkv")};
        if (archivePath == profileFolder) {
            expected.append(QStringLiteral("old.bin"));
        }
        QCOMPARE(names(result.archiveURL.native() + "/payload/" + profileFolder), expected);
    }
}

void tst_CleanArchiveService::aTreeTooDeepEndsInAnErrorNotACrash()
{
    // Ten thousand folders, one in the other, made and taken apart through
    // descriptors: their paths are far beyond what a path may hold.
    const auto home = [&] { return QFile::encodeName(m_box->home().toString()); };
    m_box->writeHome("Documents/notes.txt", "notes");
    int fd = ::open((home() + "/Documents").constData(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 10000 && fd >= 0; ++level) {
        ::mkdirat(fd, "d", 0755);
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    QVERIFY(fd >= 0);
    ::close(fd);

    const CleanArchiveCreateResult result =
        m_box->service().create(CleanArchiveProfile::essential, m_box->settings(false), {});
    QCOMPARE(result.errors.size(), 1);
    QVERIFY2(result.errors.first().startsWith(QStringLiteral("Documents: ")), qPrintable(result.errors.first()));
    QVERIFY(!QFileInfo::exists(QFile::decodeName(result.archiveURL.native() + "/payload/Documents")));

    const int top = ::open((home() + "/Documents").constData(), O_RDONLY | O_DIRECTORY);
    for (;;) {
        const int level = ::openat(top, "d", O_RDONLY | O_DIRECTORY);
        if (level < 0) {
            break;
        }
        const bool deeper = ::renameat(level, "d", top, "next") == 0;
        ::close(level);
        QCOMPARE(::unlinkat(top, "d", AT_REMOVEDIR), 0);
        if (!deeper || ::renameat(top, "next", top, "d") != 0) {
            break;
        }
    }
    ::close(top);
}

void tst_CleanArchiveService::listsNewestFirstAndLeavesOutTheRest()
{
    ArchiveSandbox& box = *m_box;
    QVERIFY(box.service().listArchives(box.archiveRoot()).isEmpty());
    box.writeHome("Documents/a", "a");
    const CleanArchiveCreateResult older =
        box.service().create(CleanArchiveProfile::essential, box.settings(false), {});
    const TreeInventory olderArchive = TreeInventory::take(older.archiveURL.native());
    // One made in the same second gets a folder of its own.
    box.writeHome("Documents/b", "b");
    const CleanArchiveCreateResult same = box.service().create(CleanArchiveProfile::essential, box.settings(false), {});
    QCOMPARE(same.archiveURL.fileName(), QStringLiteral("Brisko_2026-03-14_093015_2"));
    QCOMPARE(TreeInventory::take(older.archiveURL.native()).differencesFrom(olderArchive), QStringList());
    box.clock->advance(3600);
    const CleanArchiveCreateResult newer = box.service().create(CleanArchiveProfile::essential, box.settings(true), {});
    box.makeArchive("broken", "{\"version\": 1}");
    box.makeArchive(".hidden", ScratchDir::readFile(newer.archiveURL.native() + "/manifest.json"));
    box.scratch().writeFile("archive/CleanArchives/loose-file", "x");
    box.scratch().makeDirectory("archive/CleanArchives/no-manifest");

    const CleanArchiveSummaryList listed = box.service().listArchives(box.archiveRoot());
    QCOMPARE(listed.size(), 3);
    QCOMPARE(listed.at(0).id, QStringLiteral("Brisko_2026-03-14_103015"));
    QCOMPARE(listed.at(0).url, newer.archiveURL);
    QCOMPARE(listed.at(0).manifest, newer.manifest);
    QVERIFY(listed.at(1).manifest == older.manifest || listed.at(2).manifest == older.manifest);
}

void tst_CleanArchiveService::restoresPlainAndPackedArchivesExactly_data()
{
    QTest::addColumn<bool>("packed");
    QTest::newRow("payload") << false;
    QTest::newRow("tar.zst") << true;
}

void tst_CleanArchiveService::restoresPlainAndPackedArchivesExactly()
{
    QFETCH(bool, packed);
    ArchiveSandbox& box = *m_box;
    box.writeHome("Projects/app/main.cpp", "int main() {}\n", 0600);
    box.writeHome("Projects/app/bin/tool", "#!/bin/sh\n", 0755);
    box.writeHome("Projects/Заметки/план.md", "план\n");
    box.scratch().makeLink("app/main.cpp", "home/Projects/current");
    box.writeHome(".ssh/id_ed25519", "private key", 0600);
    ::chmod(box.path("home/.ssh").constData(), 0700);
    TempHome::setModified(QFile::decodeName(box.path("home/Projects/app/main.cpp")),
                          QDateTime(QDate(2020, 1, 1), QTime(1, 2, 3)));
    const CleanArchiveCreateResult created =
        box.service().create(CleanArchiveProfile::developer, box.settings(packed), {});
    QVERIFY(created.errors.isEmpty());
    QCOMPARE(created.manifest.entries.size(), 2);

    const FilePath newHome(box.scratch().makeDirectory("second-home"));
    const TreeInventory original = box.homeInventory();
    const CleanArchiveSummary summary = *box.listed(created.archiveURL.fileNameNative());
    const TreeInventory archiveBefore = TreeInventory::take(created.archiveURL.native());
    QStringList reports;
    const RestoreResult result =
        box.serviceFor(newHome).restore(summary, [&](const CleanArchiveProgress& p) { reports.append(statusOf(p)); });

    QCOMPARE(result, (RestoreResult{2, 0, 0, {}}));
    QStringList expectedReports{QStringLiteral("1|Восстановление…|0|0")};
    if (packed) {
        expectedReports.append(QStringLiteral("1|Распаковка tar.zst…|0|0"));
    }
    expectedReports += {QStringLiteral("1|Восстановление Projects…|0|0"),
                        QStringLiteral("1|Восстановление .ssh…|0.5|0"), QStringLiteral("0|Готово|1|0")};
    QCOMPARE(reports, expectedReports);
    const TreeInventory restored = TreeInventory::take(newHome.native());
    QCOMPARE(restored.entriesNotIn(original).join(QLatin1Char('\n')), QString());
    QCOMPARE(original.entriesNotIn(restored), QStringList());
    QCOMPARE(restored.entries().value("Projects/current").kind, TreeInventory::Entry::Kind::Symlink);
    // The archive is left as it was, and the unpacked copy is gone.
    QCOMPARE(TreeInventory::take(created.archiveURL.native()).differencesFrom(archiveBefore), QStringList());
    QCOMPARE(names(box.temporary().native()), QStringList());
}

void tst_CleanArchiveService::restoreSkipsWhatExists()
{
    ArchiveSandbox& box = *m_box;
    box.writeHome("Documents/a", "archived");
    box.writeHome("Desktop/b", "archived");
    const CleanArchiveCreateResult created =
        box.service().create(CleanArchiveProfile::essential, box.settings(true), {});
    box.scratch().removeTree(box.path("home/Desktop"));
    box.writeHome("Documents/a", "changed since");
    box.writeHome("Documents/new", "new since");
    const TreeInventory before = box.homeInventory();
    const CleanArchiveSummary summary = *box.listed(created.archiveURL.fileNameNative());
    QCOMPARE(box.service().entriesAlreadyAtHome(summary), QStringList{QStringLiteral("Documents")});
    const RestoreResult result = box.service().restore(summary, {});
    QCOMPARE(result, (RestoreResult{1, 1, 0, {}}));
    QCOMPARE(before.entriesNotIn(box.homeInventory()), QStringList());
    QCOMPARE(ScratchDir::readFile(box.path("home/Documents/a")), QByteArray("changed since"));
    QCOMPARE(ScratchDir::readFile(box.path("home/Desktop/b")), QByteArray("archived"));

    // With everything back, a restore skips it all without unpacking: a tar
    // that cannot run is never asked.
    QCOMPARE(box.service().entriesAlreadyAtHome(summary).size(), 2);
    QCOMPARE(box.service(QStringLiteral("/bin/false")).restore(summary, {}), (RestoreResult{0, 2, 0, {}}));
}

void tst_CleanArchiveService::stopKeepsWhatIsCompleteAndNothingPartial()
{
    ArchiveSandbox& box = *m_box;
    box.writeHome("Documents/a", "a");
    box.writeHome("Documents/b", "b");
    box.writeHome("Desktop/c", "c");
    // Creating: stopped inside the first folder, nothing of the archive stays.
    int asked = 0;
    const CleanArchiveCreateResult stopped = box.service().create(CleanArchiveProfile::essential, box.settings(false),
                                                                  {}, [&asked] { return asked++ > 2; });
    QVERIFY(stopped.stopped);
    QCOMPARE(stopped.copiedFiles, 0);
    QVERIFY(!ScratchDir::exists(stopped.archiveURL.native()));
    QVERIFY(box.service().listArchives(FilePath::fromString(box.settings(false).archivePath)).isEmpty());

    // Restoring: the entry begun is finished, the next one is not started.
    const CleanArchiveCreateResult created =
        box.service().create(CleanArchiveProfile::essential, box.settings(false), {});
    QVERIFY(!created.stopped);
    box.scratch().removeTree(box.path("home/Documents"));
    box.scratch().removeTree(box.path("home/Desktop"));
    asked = 0;
    const RestoreResult result = box.service().restore(*box.listed(created.archiveURL.fileNameNative()), {},
                                                       [&asked] { return asked++ > 0; });
    QCOMPARE(result, (RestoreResult{1, 0, 0, {}, true}));
    QCOMPARE(names(box.home().native()).size(), 1);
}

void tst_CleanArchiveService::restoreRefusesBrokenParts_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<RestoreResult>("expected");
    QTest::addColumn<QStringList>("home");
    // Nothing of a refused entry stays, not even under a temporary name.
    QTest::newRow("changed byte deep in a folder")
        << "changed" << RestoreResult{1, 0, 1, {QStringLiteral("Documents: SHA256 не совпадает")}}
        << QStringList{QStringLiteral("Desktop")};
    QTest::newRow("folder missing from payload")
        << "missing" << RestoreResult{1, 0, 1, {QStringLiteral("Desktop: нет в архиве")}}
        << QStringList{QStringLiteral("Documents")};
    QTest::newRow("archive file missing")
        << "packed" << RestoreResult{0, 0, 1, {QStringLiteral("Файл archive.tar.zst не найден")}} << QStringList();
}

void tst_CleanArchiveService::restoreRefusesBrokenParts()
{
    QFETCH(QString, damage);
    QFETCH(RestoreResult, expected);
    QFETCH(QStringList, home);
    ArchiveSandbox& box = *m_box;
    box.writeHome("Documents/deep/a.txt", "original content");
    box.writeHome("Desktop/b", "fine");
    const CleanArchiveCreateResult created =
        box.service().create(CleanArchiveProfile::essential, box.settings(damage == QLatin1String("packed")), {});
    const CleanArchiveSummary summary = *box.listed(created.archiveURL.fileNameNative());
    const QByteArray archive = created.archiveURL.native();
    if (damage == QLatin1String("changed")) {
        QVERIFY(ScratchDir::write(archive + "/payload/Documents/deep/a.txt", "original contenT"));
    } else if (damage == QLatin1String("missing")) {
        QVERIFY(ScratchDir::removeTree(archive + "/payload/Desktop"));
    } else {
        QVERIFY(ScratchDir::removeTree(archive + "/archive.tar.zst"));
    }
    box.scratch().removeTree(box.path("home/Documents"));
    box.scratch().removeTree(box.path("home/Desktop"));
    QStringList reports;
    const RestoreResult result =
        box.service().restore(summary, [&](const CleanArchiveProgress& p) { reports.append(statusOf(p)); });
    QCOMPARE(result, expected);
    QCOMPARE(reports.last(), QStringLiteral("0|Готово|1|0"));
    QCOMPARE(names(box.home().native()), home);
}

void tst_CleanArchiveService::restoreDropsSetIdBits()
{
    ArchiveSandbox& box = *m_box;
    box.writeHome("Documents/tool", "binary", 0755);
    ::chmod(box.path("home/Documents/tool").constData(), 06755);
    const CleanArchiveCreateResult created =
        box.service().create(CleanArchiveProfile::essential, box.settings(false), {});
    struct stat copied;
    QCOMPARE(::lstat((created.archiveURL.native() + "/payload/Documents/tool").constData(), &copied), 0);
    QCOMPARE(copied.st_mode & 07777, 06755u);
    const FilePath newHome(box.scratch().makeDirectory("second-home"));
    QCOMPARE(box.serviceFor(newHome).restore(*box.listed(created.archiveURL.fileNameNative()), {}).restored, 1);
    struct stat restored;
    QCOMPARE(::lstat((newHome.native() + "/Documents/tool").constData(), &restored), 0);
    QCOMPARE(restored.st_mode & 07777, 0755u);
}

void tst_CleanArchiveService::restoreSurvivesAFaultAtEveryOperation()
{
    ArchiveSandbox& box = *m_box;
    box.writeHome("Documents/a/one", "one");
    box.writeHome("Documents/two", "two");
    box.scratch().makeLink("two", "home/Documents/link");
    box.writeHome("Desktop/three", "three");
    const CleanArchiveCreateResult created =
        box.service().create(CleanArchiveProfile::essential, box.settings(false), {});
    const CleanArchiveSummary summary = *box.listed(created.archiveURL.fileNameNative());
    const TreeInventory original = box.homeInventory();
    const TreeInventory archive = TreeInventory::take(created.archiveURL.native());

    box.fs->resetOperationCount();
    const FilePath probeHome(box.scratch().makeDirectory("probe-home"));
    QCOMPARE(box.serviceFor(probeHome).restore(summary, {}).restored, 2);
    const int operations = box.fs->operationCount();
    QVERIFY(operations > 10);

    for (int nth = 1; nth <= operations; ++nth) {
        const QByteArray name = "home-" + QByteArray::number(nth);
        const FilePath target(box.scratch().makeDirectory(name));
        box.fs->resetOperationCount();
        box.fs->failOperation(nth, nth % 2 ? ENOSPC : EIO);
        const RestoreResult result = box.serviceFor(target).restore(summary, {});
        box.fs->failOperation(0, 0);
        QCOMPARE(result.restored + result.failed, 2);
        // Each entry is either complete and verified under its own name, or
        // not there at all. A hidden partial copy may stay only when removing
        // it was what failed.
        const TreeInventory now = TreeInventory::take(target.native());
        for (auto it = now.entries().cbegin(); it != now.entries().cend(); ++it) {
            if (!it.key().isEmpty() && !it.key().startsWith(".brisko-restore-")) {
                QVERIFY2(original.entries().contains(it.key()) && it->sameAs(original.entries().value(it.key())),
                         it.key().constData());
            }
        }
        for (const QByteArray& top : {QByteArrayLiteral("Documents"), QByteArrayLiteral("Desktop")}) {
            const bool there = now.entries().contains(top);
            for (auto it = original.entries().cbegin(); it != original.entries().cend(); ++it) {
                if (it.key() == top || it.key().startsWith(top + '/')) {
                    QVERIFY2(now.entries().contains(it.key()) == there, it.key().constData());
                }
            }
        }
        ScratchDir::removeTree(target.native());
    }
    QCOMPARE(TreeInventory::take(created.archiveURL.native()).differencesFrom(archive), QStringList());
}

BRISKO_TEST(tst_CleanArchiveService)
#include "tst_CleanArchiveService.moc"
