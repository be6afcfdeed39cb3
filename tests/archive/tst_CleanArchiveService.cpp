#include "BriskoTest.h"
#include "ArchiveSandbox.h"
#include "TempHome.h"

#include "archive/CleanArchiveDigest.h"
#include "archive/CleanArchiveProfile.h"
#include "fileops/ItemTransfer.h"
#include "fileops/TreeRemover.h"
#include "scan/HomeLayout.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <QTimeZone>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

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
    tar.start(u"/usr/bin/tar"_s, {u"-taf"_s, QFile::decodeName(archive)});
    tar.waitForFinished();
    QByteArrayList lines = tar.readAllStandardOutput().split('\n');
    lines.removeAll(QByteArray());
    std::sort(lines.begin(), lines.end());
    return lines;
}

CleanArchiveManifest packedManifest()
{
    CleanArchiveManifest manifest;
    manifest.createdAt = QDateTime(QDate(2026, 3, 14), QTime(6, 30, 15), QTimeZone::utc());
    manifest.profile = u"developer"_s;
    manifest.profileTitle = u"Разработка"_s;
    manifest.homeDirectory = u"/home/анна"_s;
    manifest.entries = {CleanArchiveEntry{u"Projects"_s, 8192, true, QString(64, u'a')},
                        CleanArchiveEntry{u".ssh"_s, 12, false, std::nullopt}};
    manifest.totalBytes = 8204;
    manifest.appVersion = u"0.1.0"_s;
    manifest.compression = u"tar.zst"_s;
    manifest.compressedBytes = qint64(5) << 40;
    manifest.compressedSHA256 = QString(64, u'b');
    manifest.archiveFileName = u"archive.tar.zst"_s;
    return manifest;
}

// Positions of the keys in the text, in the order given; -1 when one is missing.
QList<qsizetype> positions(const QByteArray& text, const QList<QByteArray>& keys)
{
    QList<qsizetype> found;
    for (const QByteArray& key : keys) {
        found.append(text.indexOf('"' + key + "\":"));
    }
    return found;
}

} // namespace

// The clean archive: its manifest, creating, listing and restoring, on real
// folders with the real tar and zstd.
class tst_CleanArchiveService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void manifestWritesSortedKeysAndLeavesOutAbsentOptionals();
    void manifestRejectsMalformedText_data();
    void manifestRejectsMalformedText();
    void manifestDatesAndProfiles();
    void safeRelativePaths_data();
    void safeRelativePaths();
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
    void restoreSurvivesAFaultAtEveryOperation();

private:
    // Creates an archive of the profile in the sandbox, each report as
    // "running|task|progress|files" into reports when given.
    CleanArchiveCreateResult create(CleanArchiveProfile profile, bool compress,
                                    QStringList* reports = nullptr,
                                    const QString& tar = CleanArchiveCompression::defaultTar)
    {
        return m_box->service(tar).create(profile, m_box->settings(compress), recorder(reports));
    }
    static CleanArchiveService::ProgressHandler recorder(QStringList* reports)
    {
        return [reports](const CleanArchiveProgress& p) {
            if (reports) {
                reports->append(
                    u"%1|%2|%3|%4"_s.arg(p.isRunning).arg(p.currentTask).arg(p.progress).arg(p.filesCopied));
            }
        };
    }
    CleanArchiveSummary summaryOf(const CleanArchiveCreateResult& created) const
    {
        return m_box->listed(created.archiveURL.fileNameNative()).value_or(CleanArchiveSummary());
    }

    std::unique_ptr<ArchiveSandbox> m_box;
};

void tst_CleanArchiveService::init()
{
    m_box = std::make_unique<ArchiveSandbox>();
    QVERIFY(m_box->isValid());
}

void tst_CleanArchiveService::manifestWritesSortedKeysAndLeavesOutAbsentOptionals()
{
    const QByteArray json = packedManifest().toJson();
    const QList<qsizetype> top =
        positions(json,
                  {"appVersion", "archiveFileName", "compressedBytes", "compressedSHA256", "compression",
                   "createdAt", "entries", "homeDirectory", "profile", "profileTitle", "totalBytes",
                   "version"});
    QVERIFY(!top.contains(-1));
    QVERIFY2(std::is_sorted(top.cbegin(), top.cend()), json.constData());
    const QByteArray entry = json.mid(json.indexOf("\"Projects\"") - 200, 400);
    const QList<qsizetype> inner = positions(entry, {"isDirectory", "relativePath", "sha256", "size"});
    QVERIFY2(!inner.contains(-1), entry.constData());
    QVERIFY(std::is_sorted(inner.cbegin(), inner.cend()));
    // Pretty-printed: one key per line.
    QVERIFY(json.count('\n') > 20);
    QVERIFY(json.contains("\"createdAt\": \"2026-03-14T06:30:15Z\""));
    QVERIFY(json.contains("\"compressedBytes\": 5497558138880"));
    QCOMPARE(CleanArchiveManifest::fromJson(json), packedManifest());

    CleanArchiveManifest plain = packedManifest();
    plain.compression.reset();
    plain.compressedBytes.reset();
    plain.compressedSHA256.reset();
    plain.archiveFileName.reset();
    const QByteArray plainJson = plain.toJson();
    for (const char* key :
         {"compression", "compressedBytes", "compressedSHA256", "archiveFileName", "null"}) {
        QVERIFY2(!plainJson.contains(key), key);
    }
    // The .ssh entry has no digest: no key at all.
    const QJsonObject ssh =
        QJsonDocument::fromJson(plainJson).object().value("entries"_L1).toArray().at(1).toObject();
    QCOMPARE(ssh.keys(), (QStringList{u"isDirectory"_s, u"relativePath"_s, u"size"_s}));
    QCOMPARE(CleanArchiveManifest::fromJson(plainJson), plain);
}

void tst_CleanArchiveService::manifestRejectsMalformedText_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::newRow("size as text") << QByteArray("\"size\": 8192") << QByteArray("\"size\": \"8192\"");
    QTest::newRow("fractional size") << QByteArray("\"size\": 8192") << QByteArray("\"size\": 8192.5");
    QTest::newRow("isDirectory as number")
        << QByteArray("\"isDirectory\": true") << QByteArray("\"isDirectory\": 1");
    QTest::newRow("digest as number")
        << QByteArray("\"compressedSHA256\": \"bbbb") << QByteArray("\"compressedSHA256\": 7, \"x\": \"bbbb");
    QTest::newRow("no entries") << QByteArray("\"entries\"") << QByteArray("\"entriez\"");
    QTest::newRow("no version") << QByteArray("\"version\"") << QByteArray("\"versio\"");
    QTest::newRow("entries not a list")
        << QByteArray("\"entries\": [") << QByteArray("\"entries\": {\"a\": [");
    QTest::newRow("date without zone") << QByteArray("06:30:15Z") << QByteArray("06:30:15");
    QTest::newRow("date as number") << QByteArray("\"2026-03-14T06:30:15Z\"") << QByteArray("797833815");
    QTest::newRow("entry without isDirectory") << QByteArray("\"isDirectory\": true,") << QByteArray();
    QTest::newRow("relativePath as list")
        << QByteArray("\"relativePath\": \"Projects\"") << QByteArray("\"relativePath\": [\"..\"]");
    QTest::newRow("not JSON") << QByteArray("{") << QByteArray("{{");
}

void tst_CleanArchiveService::manifestRejectsMalformedText()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QByteArray json = packedManifest().toJson();
    QVERIFY2(json.contains(from), from.constData());
    json.replace(json.indexOf(from), from.size(), to);
    QVERIFY(!CleanArchiveManifest::fromJson(json));
    QVERIFY(!CleanArchiveManifest::fromJson("[]"));
}

void tst_CleanArchiveService::manifestDatesAndProfiles()
{
    // Dates are written in UTC with a Z and read only so.
    const QDateTime moscow(QDate(2026, 3, 14), QTime(9, 30, 15, 999), QTimeZone("Europe/Moscow"));
    QCOMPARE(CleanArchiveManifest::formatDate(moscow), u"2026-03-14T06:30:15Z"_s);
    // A moment that does not exist on many local clocks (a spring-forward gap) still reads.
    const std::optional<QDateTime> gap = CleanArchiveManifest::parseDate(u"2026-03-29T02:30:00Z"_s);
    QVERIFY(gap);
    QCOMPARE(gap->toUTC().time(), QTime(2, 30));
    QVERIFY(!CleanArchiveManifest::parseDate(u"2026-03-29T02:30:00+01:00"_s));
    QVERIFY(!CleanArchiveManifest::parseDate(u"2026-02-30T02:30:00Z"_s));

    for (const CleanArchiveProfile profile : CleanArchiveProfiles::all()) {
        QCOMPARE(CleanArchiveProfiles::fromRawValue(CleanArchiveProfiles::rawValue(profile)), profile);
    }
    QVERIFY(!CleanArchiveProfiles::fromRawValue(u"Essential"_s));
    const HomeLayout layout = HomeLayout::original(FilePath("/Users/u"));
    QCOMPARE(CleanArchiveProfiles::homeFolders(CleanArchiveProfile::developer, layout),
             (QList<QByteArray>{"Projects", "Developer", ".config", ".ssh"}));
    // Only the essential profile leaves installers out, by the last extension.
    const auto excludesFile = [&](CleanArchiveProfile profile, const QByteArray& name) {
        return CleanArchiveProfiles::excludesFile(profile, name, layout);
    };
    QVERIFY(excludesFile(CleanArchiveProfile::essential, "Установщик.Pkg"));
    QVERIFY(excludesFile(CleanArchiveProfile::essential, "photos.2024.zip"));
    QVERIFY(!excludesFile(CleanArchiveProfile::essential, "notes.dmg.txt"));
    QVERIFY(!excludesFile(CleanArchiveProfile::essential, "zip"));
    QVERIFY(!excludesFile(CleanArchiveProfile::creative, "setup.dmg"));
    QVERIFY(!excludesFile(CleanArchiveProfile::developer, "bundle.zip"));
}

void tst_CleanArchiveService::safeRelativePaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("safe");
    QTest::newRow("folder") << u"Documents"_s << true;
    QTest::newRow("hidden folder") << u".ssh"_s << true;
    QTest::newRow("Cyrillic") << u"Документы"_s << true;
    QTest::newRow("three dots") << u"..."_s << true;
    // The other refusals are rows of tst_CleanArchiveHostileInput::unsafeRelativePaths.
    QTest::newRow("trailing slash") << u"Documents/"_s << false;
}

void tst_CleanArchiveService::safeRelativePaths()
{
    QFETCH(QString, path);
    QFETCH(bool, safe);
    QCOMPARE(CleanArchiveEntry::isSafeRelativePath(path), safe);
}

void tst_CleanArchiveService::copiesTheProfileWithItsRules()
{
    ArchiveSandbox& box = *m_box;
    box.writeHome("Documents/отчёт.txt", "годовой отчёт\n", 0640);
    box.writeHome("Documents/sub/deeper/a.bin", QByteArray(70000, 'a'));
    box.writeHome(QByteArray("Documents/caf\xe9.txt"), "latin-1 name\n");
    for (const char* skipped : {"Documents/.hidden", "Documents/sub/.cache/x", "Documents/project/.git/HEAD",
                                "Documents/project/node_modules/pkg/index.js", "Documents/Secret Notes/n.txt",
                                "Desktop/setup.DMG"}) {
        box.writeHome(skipped, "skip me");
    }
    box.writeHome("Documents/project/src/main.c", "int main;\n");
    box.writeHome("Documents/installer.zip/inside.txt", "a folder named like an archive stays");
    box.writeHome("Desktop/notes.dmg.txt", "notes");
    box.writeHome("Desktop/run.sh", "#!/bin/sh\n", 0750);
    box.scratch().makeLink("../Desktop/notes.dmg.txt", "home/Documents/link-to-notes");
    ::chmod(box.path("home/Documents/sub/deeper").constData(), 0555);
    TempHome::setModified(QFile::decodeName(box.path("home/Documents/отчёт.txt")),
                          QDateTime(QDate(2021, 5, 6), QTime(7, 8, 9)));
    const TreeInventory sourcesBefore = box.homeInventory();

    AppSettings settings = box.settings(false);
    settings.excludedPaths = {u"Secret Notes"_s};
    QStringList reports;
    const CleanArchiveCreateResult result =
        box.service().create(CleanArchiveProfile::essential, settings, recorder(&reports));

    QVERIFY2(result.errors.isEmpty(), qPrintable(result.errors.join(u'\n')));
    QCOMPARE(result.archiveURL, box.cleanArchives().child(QByteArrayLiteral("Brisko_2026-03-14_093015")));
    QCOMPARE(result.copiedFiles, 2);
    QCOMPARE(reports,
             (QStringList{u"1|Подготовка…|0|0"_s, u"1|Копирование Documents…|0|0"_s,
                          u"1|Копирование Desktop…|0.5|0"_s, u"0|Готово|1|2"_s}));
    // The sources are only read.
    QCOMPARE(box.homeInventory().differencesFrom(sourcesBefore), QStringList());

    const QByteArray payload = result.archiveURL.native() + "/payload";
    const TreeInventory copy = TreeInventory::take(payload);
    QCOMPARE(copy.entries().keys(),
             (QList<QByteArray>{"", "Desktop", "Desktop/notes.dmg.txt", "Desktop/run.sh", "Documents",
                                "Documents/caf\xe9.txt", "Documents/installer.zip",
                                "Documents/installer.zip/inside.txt", "Documents/link-to-notes",
                                "Documents/project", "Documents/project/src", "Documents/project/src/main.c",
                                "Documents/sub", "Documents/sub/deeper", "Documents/sub/deeper/a.bin",
                                "Documents/отчёт.txt"}));
    // Content, permissions, file times and links (as links) as in the source.
    for (auto it = copy.entries().cbegin(); it != copy.entries().cend(); ++it) {
        QVERIFY2(it.key().isEmpty() || it->sameAs(sourcesBefore.entries().value(it.key())),
                 it.key().constData());
    }

    const CleanArchiveManifest& manifest = result.manifest;
    QCOMPARE(manifest.version, 1);
    QCOMPARE((QStringList{manifest.profile, manifest.profileTitle, manifest.homeDirectory}),
             (QStringList{u"essential"_s, u"Документы и рабочий стол"_s, box.home().toString()}));
    QCOMPARE(manifest.createdAt, box.clock->now().toUTC());
    QVERIFY(!manifest.compression && !manifest.compressedBytes && !manifest.compressedSHA256
            && !manifest.archiveFileName);
    QCOMPARE(manifest.entries.size(), 2);
    const CleanArchiveEntry& documents = manifest.entries.at(0);
    QCOMPARE(documents.relativePath, u"Documents"_s);
    QVERIFY(documents.isDirectory);
    // The digest is the copy's, computed as its own test shows.
    CleanArchiveDigest digests(box.fs);
    QCOMPARE(documents.sha256.value_or(QString()),
             QString::fromLatin1(digests.directoryDigest(FilePath(payload + "/Documents")).value_or("none")));
    QCOMPARE(documents.size, digests.entrySize(FilePath(payload + "/Documents")));
    QVERIFY(documents.size >= 70000 + 4 * 4096);
    QCOMPARE(manifest.totalBytes, documents.size + manifest.entries.at(1).size);
    // The manifest on disk is the manifest returned.
    QCOMPARE(CleanArchiveManifest::fromJson(
                 ScratchDir::readFile(result.archiveURL.native() + "/manifest.json")),
             manifest);
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
    const CleanArchiveCreateResult result = create(CleanArchiveProfile::creative, true, &reports, tar);
    const QByteArray manifestText = ScratchDir::readFile(result.archiveURL.native() + "/manifest.json");
    QCOMPARE(result.copiedFiles, 2);
    // Packing is announced once tar is found to be there.
    QCOMPARE(reports.contains(u"1|Сжатие tar.zst…|0.92|0"_s), !tar.startsWith("/nonexistent"_L1));
    if (!error.isEmpty()) {
        QCOMPARE(result.errors, QStringList{error});
        QCOMPARE(names(result.archiveURL.native()), (QStringList{u"manifest.json"_s, u"payload"_s}));
        QVERIFY(!manifestText.contains("compress") && !manifestText.contains("archiveFileName"));
        QVERIFY(!result.manifest.compression);
        // Without packing, nothing to pack and no message.
        m_box->clock->advance(1);
        QVERIFY(create(CleanArchiveProfile::creative, false, nullptr, tar).errors.isEmpty());
        return;
    }
    QVERIFY2(result.errors.isEmpty(), qPrintable(result.errors.join(u'\n')));
    QCOMPARE(names(result.archiveURL.native()), (QStringList{u"archive.tar.zst"_s, u"manifest.json"_s}));
    const QByteArray packed = result.archiveURL.native() + "/archive.tar.zst";
    const QByteArray content = ScratchDir::readFile(packed);
    QCOMPARE(result.manifest.compression, u"tar.zst"_s);
    QCOMPARE(result.manifest.archiveFileName, u"archive.tar.zst"_s);
    QCOMPARE(result.manifest.compressedBytes, content.size());
    QCOMPARE(result.manifest.compressedSHA256, QString::fromLatin1(independentSha256(content)));
    QVERIFY(content.size() < 200000);
    // The content of payload/, with paths relative to it.
    QCOMPARE(tarListing(packed), (QByteArrayList{"./", "./Movies/", "./Movies/clip.mov", "./Music/", "./Music/Песня.mp3"}));
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
    QVERIFY2(result.errors.isEmpty(), qPrintable(result.errors.join(u'\n')));
    QStringList entries;
    for (const CleanArchiveEntry& entry : result.manifest.entries) {
        entries.append(entry.relativePath);
    }
    QCOMPARE(entries, (QStringList{u"Документы"_s, u"Рабочий стол"_s, u"Загрузки"_s}));
    QCOMPARE(names(result.archiveURL.native() + "/payload/Загрузки"), QStringList{u"счёт.pdf"_s});
}

void tst_CleanArchiveService::profileWithoutFoldersWritesNothing()
{
    QStringList reports;
    const CleanArchiveCreateResult result = create(CleanArchiveProfile::developer, true, &reports);
    QCOMPARE(result.errors, QStringList{u"Не найдены папки профиля «Разработка»"_s});
    QCOMPARE(result.copiedFiles, 0);
    QVERIFY(result.manifest.entries.isEmpty());
    QCOMPARE(result.manifest.totalBytes, 0);
    QCOMPARE(reports.last(), u"0|Нет данных для архива|0|0"_s);
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
    QString expected =
        u"Documents: "_s + ItemTransfer::describe(EACCES) + u" ("_s + QFile::decodeName(secret) + u')';
    if (packed) {
        fs = m_box->fs;
        fs->failRead(m_box->path("home/Documents/private"));
        expected = u"Documents: "_s;
    }
    const CleanArchiveCreateResult result =
        CleanArchiveService(fs, HomeLayout::original(m_box->home()), m_box->clock, m_box->temporary())
            .create(CleanArchiveProfile::essential, m_box->settings(packed), {});
    QCOMPARE(result.errors.size(), 1);
    QVERIFY2(result.errors.first().startsWith(expected), qPrintable(result.errors.first()));
    QVERIFY(result.errors.first().contains(u"Documents/private"_s));
    QCOMPARE(result.copiedFiles, 1);
    QCOMPARE(result.manifest.entries.size(), 1);
    QCOMPARE(result.manifest.entries.first().relativePath, u"Desktop"_s);
    // What is kept holds exactly what the manifest lists, and lists as written.
    if (packed) {
        QCOMPARE(tarListing(result.archiveURL.native() + "/archive.tar.zst"),
                 (QByteArrayList{"./", "./Desktop/", "./Desktop/b.txt"}));
    } else {
        QCOMPARE(names(result.archiveURL.native() + "/payload"), QStringList{u"Desktop"_s});
    }
    QCOMPARE(summaryOf(result).manifest, result.manifest);
}

void tst_CleanArchiveService::neverCopiesTheArchiveFolderIntoItself_data()
{
    QTest::addColumn<QByteArray>("archivePath");
    QTest::newRow("inside a profile folder") << QByteArray("Movies/Brisko Archive");
    // Its clean archives, the one being made included, are never copied.
    QTest::newRow("a profile folder itself") << QByteArray("Movies");
}

void tst_CleanArchiveService::neverCopiesTheArchiveFolderIntoItself()
{
    QFETCH(QByteArray, archivePath);
    m_box->writeHome("Movies/film.mkv", "film");
    m_box->writeHome(archivePath + "/old.bin", "moved here earlier");
    AppSettings settings = m_box->settings(false);
    settings.archivePath = QFile::decodeName(m_box->path("home/" + archivePath));
    const QStringList expected =
        archivePath == "Movies" ? QStringList{u"film.mkv"_s, u"old.bin"_s} : QStringList{u"film.mkv"_s};
    for (int round = 0; round < 2; ++round) {
        const CleanArchiveCreateResult result = m_box->service().create(CleanArchiveProfile::creative, settings, {});
        QVERIFY2(result.errors.isEmpty(), qPrintable(result.errors.join(u'\n')));
        QCOMPARE(names(result.archiveURL.native() + "/payload/Movies"), expected);
    }
}

void tst_CleanArchiveService::aTreeTooDeepEndsInAnErrorNotACrash()
{
    // Far deeper than a path may reach.
    m_box->writeHome("Documents/notes.txt", "notes");
    const QByteArray chain = m_box->scratch().makeDirectory("home/Documents/d");
    QCOMPARE(ScratchDir::makeChain(chain, 10000), 10000);

    const CleanArchiveCreateResult result = create(CleanArchiveProfile::essential, false);
    QCOMPARE(result.errors.size(), 1);
    QVERIFY2(result.errors.first().startsWith(u"Documents: "_s), qPrintable(result.errors.first()));
    QVERIFY(!ScratchDir::exists(result.archiveURL.native() + "/payload/Documents"));
    QVERIFY(TreeRemover(m_box->fs).remove(FilePath(chain)).ok());
}

void tst_CleanArchiveService::listsNewestFirstAndLeavesOutTheRest()
{
    ArchiveSandbox& box = *m_box;
    QVERIFY(box.service().listArchives(box.archiveRoot()).isEmpty());
    box.writeHome("Documents/a", "a");
    const CleanArchiveCreateResult older = create(CleanArchiveProfile::essential, false);
    const TreeInventory olderArchive = TreeInventory::take(older.archiveURL.native());
    // One made in the same second gets a folder of its own.
    box.writeHome("Documents/b", "b");
    QCOMPARE(create(CleanArchiveProfile::essential, false).archiveURL.fileName(),
             u"Brisko_2026-03-14_093015_2"_s);
    QCOMPARE(TreeInventory::take(older.archiveURL.native()).differencesFrom(olderArchive), QStringList());
    box.clock->advance(3600);
    const CleanArchiveCreateResult newer = create(CleanArchiveProfile::essential, true);
    box.makeArchive("broken", "{\"version\": 1}");
    box.makeArchive(".hidden", ScratchDir::readFile(newer.archiveURL.native() + "/manifest.json"));
    box.scratch().writeFile("archive/CleanArchives/loose-file", "x");
    box.scratch().makeDirectory("archive/CleanArchives/no-manifest");

    const CleanArchiveSummaryList listed = box.service().listArchives(box.archiveRoot());
    QCOMPARE(listed.size(), 3);
    QCOMPARE(listed.at(0).id, u"Brisko_2026-03-14_103015"_s);
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
    // Set-id bits are archived as they are, but never restored.
    box.writeHome("Projects/setid", "binary", 0755);
    ::chmod(box.path("home/Projects/setid").constData(), 06755);
    const CleanArchiveCreateResult created = create(CleanArchiveProfile::developer, packed);
    QVERIFY(created.errors.isEmpty());
    QCOMPARE(created.manifest.entries.size(), 2);

    const FilePath newHome(box.scratch().makeDirectory("second-home"));
    const TreeInventory original = TreeInventory::take(box.home().native(), {"Projects/setid"});
    const TreeInventory archiveBefore = TreeInventory::take(created.archiveURL.native());
    QStringList reports;
    const RestoreResult result = box.serviceFor(newHome).restore(summaryOf(created), recorder(&reports));

    QCOMPARE(result, (RestoreResult{2, 0, 0, {}}));
    QCOMPARE(reports,
             (QStringList{u"1|Восстановление…|0|0"_s}
              + (packed ? QStringList{u"1|Распаковка tar.zst…|0|0"_s} : QStringList())
              + QStringList{u"1|Восстановление Projects…|0|0"_s, u"1|Восстановление .ssh…|0.5|0"_s,
                            u"0|Готово|1|0"_s}));
    const TreeInventory restored = TreeInventory::take(newHome.native(), {"Projects/setid"});
    QCOMPARE(restored.entriesNotIn(original), QStringList());
    QCOMPARE(original.entriesNotIn(restored), QStringList());
    QCOMPARE(ScratchDir::readFile(newHome.native() + "/Projects/setid"), QByteArray("binary"));
    QCOMPARE(restored.entries().value("Projects/current").kind, TreeInventory::Entry::Kind::Symlink);
    struct stat st;
    QCOMPARE(::lstat((newHome.native() + "/Projects/setid").constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, 0755u);
    if (!packed) {
        QCOMPARE(::lstat((created.archiveURL.native() + "/payload/Projects/setid").constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 06755u);
    }
    // The archive is left as it was, and the unpacked copy is gone.
    QCOMPARE(TreeInventory::take(created.archiveURL.native()).differencesFrom(archiveBefore), QStringList());
    QCOMPARE(names(box.temporary().native()), QStringList());
}

void tst_CleanArchiveService::restoreSkipsWhatExists()
{
    ArchiveSandbox& box = *m_box;
    box.writeHome("Documents/a", "archived");
    box.writeHome("Desktop/b", "archived");
    const CleanArchiveSummary summary = summaryOf(create(CleanArchiveProfile::essential, true));
    box.scratch().removeTree(box.path("home/Desktop"));
    box.writeHome("Documents/a", "changed since");
    box.writeHome("Documents/new", "new since");
    const TreeInventory before = box.homeInventory();
    QCOMPARE(box.service().entriesAlreadyAtHome(summary), QStringList{u"Documents"_s});
    QCOMPARE(box.service().restore(summary, {}), (RestoreResult{1, 1, 0, {}}));
    QCOMPARE(before.entriesNotIn(box.homeInventory()), QStringList());
    QCOMPARE(ScratchDir::readFile(box.path("home/Documents/a")), QByteArray("changed since"));
    QCOMPARE(ScratchDir::readFile(box.path("home/Desktop/b")), QByteArray("archived"));

    // With everything back, a restore skips it all without unpacking: a tar
    // that cannot run is never asked.
    QCOMPARE(box.service().entriesAlreadyAtHome(summary).size(), 2);
    QCOMPARE(box.service(u"/bin/false"_s).restore(summary, {}), (RestoreResult{0, 2, 0, {}}));
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
    QVERIFY(box.service().listArchives(box.archiveRoot()).isEmpty());

    // Restoring: the entry begun is finished, the next one is not started.
    const CleanArchiveCreateResult created = create(CleanArchiveProfile::essential, false);
    QVERIFY(!created.stopped);
    box.scratch().removeTree(box.path("home/Documents"));
    box.scratch().removeTree(box.path("home/Desktop"));
    asked = 0;
    const RestoreResult result =
        box.service().restore(summaryOf(created), {}, [&asked] { return asked++ > 0; });
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
        << "changed" << RestoreResult{1, 0, 1, {u"Documents: SHA256 не совпадает"_s}}
        << QStringList{u"Desktop"_s};
    QTest::newRow("folder missing from payload")
        << "missing" << RestoreResult{1, 0, 1, {u"Desktop: нет в архиве"_s}} << QStringList{u"Documents"_s};
    QTest::newRow("archive file missing")
        << "packed" << RestoreResult{0, 0, 1, {u"Файл archive.tar.zst не найден"_s}} << QStringList();
}

void tst_CleanArchiveService::restoreRefusesBrokenParts()
{
    QFETCH(QString, damage);
    QFETCH(RestoreResult, expected);
    QFETCH(QStringList, home);
    ArchiveSandbox& box = *m_box;
    box.writeHome("Documents/deep/a.txt", "original content");
    box.writeHome("Desktop/b", "fine");
    const CleanArchiveCreateResult created = create(CleanArchiveProfile::essential, damage == "packed"_L1);
    const CleanArchiveSummary summary = summaryOf(created);
    const QByteArray archive = created.archiveURL.native();
    if (damage == "changed"_L1) {
        QVERIFY(ScratchDir::write(archive + "/payload/Documents/deep/a.txt", "original contenT"));
    } else {
        QVERIFY(ScratchDir::removeTree(archive
                                       + (damage == "missing"_L1 ? "/payload/Desktop" : "/archive.tar.zst")));
    }
    box.scratch().removeTree(box.path("home/Documents"));
    box.scratch().removeTree(box.path("home/Desktop"));
    QStringList reports;
    QCOMPARE(box.service().restore(summary, recorder(&reports)), expected);
    QCOMPARE(reports.last(), u"0|Готово|1|0"_s);
    QCOMPARE(names(box.home().native()), home);
}

void tst_CleanArchiveService::restoreSurvivesAFaultAtEveryOperation()
{
    ArchiveSandbox& box = *m_box;
    box.writeHome("Documents/a/one", "one");
    box.writeHome("Documents/two", "two");
    box.scratch().makeLink("two", "home/Documents/link");
    box.writeHome("Desktop/three", "three");
    const CleanArchiveCreateResult created = create(CleanArchiveProfile::essential, false);
    const CleanArchiveSummary summary = summaryOf(created);
    const TreeInventory original = box.homeInventory();
    const TreeInventory archive = TreeInventory::take(created.archiveURL.native());

    box.fs->resetOperationCount();
    QCOMPARE(
        box.serviceFor(FilePath(box.scratch().makeDirectory("probe-home"))).restore(summary, {}).restored, 2);
    const int operations = box.fs->operationCount();
    QVERIFY(operations > 10);

    for (int nth = 1; nth <= operations; ++nth) {
        const FilePath target(box.scratch().makeDirectory("home-" + QByteArray::number(nth)));
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
