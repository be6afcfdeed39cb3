#include "BriskoTest.h"
// Archives and manifests that our own archiving never writes, as someone
// with access to the archive volume could leave them. Whatever they hold, a
// restore writes nothing outside the home folder and its own temporary
// folder, and replaces nothing in the home folder.
#include "ArchiveSandbox.h"
#include "TarBuilder.h"

#include <QDir>
#include <QProcess>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// One member of a hostile archive: its tar type ('5' folder, '0' file, '2'
// link, '1' hard link), its name, and the content of a file or the target of
// a link. "@" stands for the absolute path of the folder no restore may
// touch (which holds the file "victim").
struct Member
{
    char type;
    QByteArray name;
    QByteArray data;
};

const QList<std::pair<const char*, QList<Member>>> hostileArchives = {
    {"dot-dot member", {{'5', "Documents/", {}}, {'0', "Documents/a", "a"}, {'0', "../evil", "escaped"}}},
    {"dot-dot inside a path", {{'5', "Documents/", {}}, {'0', "Documents/../../../outside/evil", "escaped"}}},
    {"absolute member", {{'5', "Documents/", {}}, {'0', "@/evil", "escaped"}}},
    {"file written through an absolute link",
     {{'5', "Documents/", {}}, {'2', "Documents/l", "@"}, {'0', "Documents/l/evil", "escaped"}}},
    {"file written through a relative link",
     {{'5', "Documents/", {}}, {'2', "Documents/l", "../../../../outside"}, {'0', "Documents/l/evil", "escaped"}}},
    {"top folder is a link out", {{'2', "Documents", "@"}, {'0', "Documents/evil", "escaped"}}},
    {"link replaced by a file of the same name",
     {{'5', "Documents/", {}}, {'2', "Documents/victim", "@/victim"}, {'0', "Documents/victim", "overwritten"}}},
    {"hard link to an absolute path", {{'5', "Documents/", {}}, {'1', "Documents/h", "@/victim"}}},
    {"hard link out, then written",
     {{'5', "Documents/", {}}, {'1', "Documents/h", "@/victim"}, {'0', "Documents/h", "overwritten"}}},
    {"hard link with dot-dot", {{'5', "Documents/", {}}, {'1', "Documents/h", "../../outside/victim"}}},
    {"duplicate member", {{'5', "Documents/", {}}, {'0', "Documents/a", "first"}, {'0', "Documents/a", "second"}}},
};

QStringList entryNames(const QByteArray& folder)
{
    return QDir(QFile::decodeName(folder))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

class tst_CleanArchiveHostileInput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void hostileTarMembers_data();
    void hostileTarMembers();
    void truncatedArchiveIsRefused();
    void archiveOffByOneByteIsRefusedBeforeUnpacking();
    void archiveFileLeadingOutIsRefused();
    void unsafeRelativePaths_data();
    void unsafeRelativePaths();
    void hostilePayloads_data();
    void hostilePayloads();
    void existingLinkInTheHomeIsNotFollowed();

private:
    // The restore of the summary with every check of containment around it.
    RestoreResult contained(const CleanArchiveSummary& summary);

    std::unique_ptr<ArchiveSandbox> m_box;
};

void tst_CleanArchiveHostileInput::init()
{
    m_box = std::make_unique<ArchiveSandbox>();
    QVERIFY(m_box->isValid());
    m_box->writeHome("Existing/keep.txt", "kept as it is");
}

RestoreResult tst_CleanArchiveHostileInput::contained(const CleanArchiveSummary& summary)
{
    const TreeInventory outsideBefore = m_box->outsideHome();
    const TreeInventory homeBefore = m_box->homeInventory();
    const RestoreResult result = m_box->service().restore(summary, {});
    [&] {
        // Nothing outside the home changed (the temporary folder is gone again).
        const QStringList outsideChanges = m_box->outsideHome().differencesFrom(outsideBefore);
        QVERIFY2(outsideChanges.isEmpty(), qPrintable(outsideChanges.join(u'\n')));
        // Nothing in the home was replaced or removed.
        const QStringList replaced = homeBefore.entriesNotIn(m_box->homeInventory());
        QVERIFY2(replaced.isEmpty(), qPrintable(replaced.join(u'\n')));
        QCOMPARE(entryNames(m_box->temporary().native()), QStringList());
        // No partial copy stays behind under a hidden name either.
        QVERIFY(!entryNames(m_box->home().native()).join(u'/').contains(".brisko"_L1));
        QCOMPARE(ScratchDir::readFile(m_box->outside() + "/victim"), QByteArray("do not touch\n"));
    }();
    return result;
}

void tst_CleanArchiveHostileInput::hostileTarMembers_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < hostileArchives.size(); ++i) {
        QTest::newRow(hostileArchives[i].first) << i;
    }
}

void tst_CleanArchiveHostileInput::hostileTarMembers()
{
    QFETCH(int, index);
    TarBuilder tar;
    for (Member member : hostileArchives.at(index).second) {
        member.name.replace("@", m_box->outside());
        member.data.replace("@", m_box->outside());
        switch (member.type) {
        case '5':
            tar.directory(member.name);
            break;
        case '2':
            tar.symlink(member.name, member.data);
            break;
        case '1':
            tar.hardlink(member.name, member.data);
            break;
        default:
            tar.file(member.name, member.data);
        }
    }
    const FilePath folder =
        m_box->makeArchive("Brisko_hostile", manifestJson({{u"Documents"_s, 0, true, {}}}, true));
    QVERIFY(tar.writeZstd(folder.native() + "/archive.tar.zst"));
    // A well-formed archive that tar reads to the end: whatever is refused is
    // refused for what it holds.
    QProcess lister;
    lister.start(u"/usr/bin/tar"_s, {u"-taf"_s, QFile::decodeName(folder.native() + "/archive.tar.zst")});
    QVERIFY(lister.waitForFinished());
    QCOMPARE(lister.exitCode(), 0);
    const std::optional<CleanArchiveSummary> summary = m_box->listed("Brisko_hostile");
    QVERIFY(summary);

    const RestoreResult result = contained(*summary);
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE((std::pair{result.restored, result.failed}), (std::pair<qint64, qint64>{0, 1}));
    QVERIFY(!ScratchDir::exists(m_box->path("home/Documents")));
    QVERIFY(!ScratchDir::exists(m_box->path("evil")) && !ScratchDir::exists(m_box->outside() + "/evil"));
}

void tst_CleanArchiveHostileInput::truncatedArchiveIsRefused()
{
    m_box->writeHome("Documents/big.bin", QByteArray(300000, 'x'));
    const CleanArchiveCreateResult created =
        m_box->service().create(CleanArchiveProfile::essential, m_box->settings(true), {});
    QVERIFY(created.manifest.compression);
    m_box->scratch().removeTree(m_box->path("home/Documents"));
    const QByteArray packed = created.archiveURL.native() + "/archive.tar.zst";
    QCOMPARE(::truncate(packed.constData(), ScratchDir::readFile(packed).size() / 2), 0);
    // Without the archive's own digest only tar can notice.
    QByteArray manifest = ScratchDir::readFile(created.archiveURL.native() + "/manifest.json");
    CleanArchiveManifest edited = *CleanArchiveManifest::fromJson(manifest);
    edited.compressedSHA256.reset();
    m_box->scratch().writeFile(created.archiveURL.native().mid(m_box->root().size() + 1) + "/manifest.json",
                               edited.toJson());

    const RestoreResult result = contained(*m_box->listed(created.archiveURL.fileNameNative()));
    QCOMPARE(result, (RestoreResult{0, 0, 1, {u"Не удалось распаковать archive.tar.zst."_s}}));
    QVERIFY(!ScratchDir::exists(m_box->path("home/Documents")));
}

void tst_CleanArchiveHostileInput::archiveOffByOneByteIsRefusedBeforeUnpacking()
{
    m_box->writeHome("Documents/a.txt", "payload");
    const CleanArchiveCreateResult created =
        m_box->service().create(CleanArchiveProfile::essential, m_box->settings(true), {});
    m_box->scratch().removeTree(m_box->path("home/Documents"));
    const QByteArray relative = created.archiveURL.native().mid(m_box->root().size() + 1) + "/archive.tar.zst";
    QByteArray bytes = ScratchDir::readFile(m_box->path(relative));
    bytes[bytes.size() - 5] = char(bytes[bytes.size() - 5] ^ 0x01);
    m_box->scratch().writeFile(relative, bytes);
    // tar is never started: a stand-in that would leave a mark proves it.
    const QByteArray marker = m_box->path("tar-ran");
    const QByteArray fakeTar =
        m_box->scratch().writeFile("fake-tar", "#!/bin/sh\ntouch '" + marker + "'\nexit 1\n", 0755);

    const TreeInventory outsideBefore = m_box->outsideHome();
    const RestoreResult result =
        CleanArchiveService(m_box->fs, HomeLayout::original(m_box->home()), m_box->clock, m_box->temporary(), QFile::decodeName(fakeTar))
            .restore(*m_box->listed(created.archiveURL.fileNameNative()), {});
    QCOMPARE(result, (RestoreResult{0, 0, 1, {u"SHA256 архива не совпадает с manifest."_s}}));
    QVERIFY(!ScratchDir::exists(marker));
    QCOMPARE(m_box->outsideHome().differencesFrom(outsideBefore), QStringList());
    QVERIFY(!ScratchDir::exists(m_box->path("home/Documents")));
    // Upper-case hex in the manifest still matches the intact file.
    bytes[bytes.size() - 5] = char(bytes[bytes.size() - 5] ^ 0x01);
    m_box->scratch().writeFile(relative, bytes);
    CleanArchiveSummary upper = *m_box->listed(created.archiveURL.fileNameNative());
    upper.manifest.compressedSHA256 = upper.manifest.compressedSHA256->toUpper();
    QCOMPARE(contained(upper).restored, 1);
}

void tst_CleanArchiveHostileInput::archiveFileLeadingOutIsRefused()
{
    TarBuilder tar;
    tar.directory("Documents/");
    tar.file("Documents/a", "a");
    QVERIFY(tar.writeZstd(m_box->outside() + "/elsewhere.tar.zst"));
    const QStringList names{u"../../outside/elsewhere.tar.zst"_s,
                            QFile::decodeName(m_box->outside()) + u"/elsewhere.tar.zst"_s, u".."_s,
                            QString()};
    for (const QString& name : names) {
        const QByteArray id = "Brisko_" + QByteArray::number(qHash(name));
        m_box->makeArchive(id, manifestJson({{u"Documents"_s, 0, true, {}}}, true, {}, name));
        const RestoreResult result = contained(*m_box->listed(id));
        QCOMPARE(result.failed, 1);
        QCOMPARE(result.restored, 0);
        QVERIFY2(result.errors.first().contains(u"Недопустимое имя файла архива"_s),
                 qPrintable(result.errors.first()));
    }
    // The archive file itself is a link out.
    const FilePath folder =
        m_box->makeArchive("Brisko_link", manifestJson({{u"Documents"_s, 0, true, {}}}, true));
    m_box->scratch().makeLink(m_box->outside() + "/elsewhere.tar.zst",
                              folder.native().mid(m_box->root().size() + 1) + "/archive.tar.zst");
    QCOMPARE(contained(*m_box->listed("Brisko_link")),
             (RestoreResult{0, 0, 1, {u"Файл archive.tar.zst не найден"_s}}));
    QVERIFY(!ScratchDir::exists(m_box->path("home/Documents")));
}

void tst_CleanArchiveHostileInput::unsafeRelativePaths_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<bool>("packed");
    for (const bool packed : {false, true}) {
        const char* suffix = packed ? " (tar.zst)" : " (payload)";
        QTest::addRow("parent%s", suffix) << u"../x"_s << packed;
        QTest::addRow("absolute%s", suffix) << u"/etc"_s << packed;
        QTest::addRow("absolute into outside%s", suffix) << u"@OUTSIDE@/planted"_s << packed;
        QTest::addRow("empty%s", suffix) << QString() << packed;
        QTest::addRow("dot%s", suffix) << u"."_s << packed;
        QTest::addRow("dot dot%s", suffix) << u".."_s << packed;
        QTest::addRow("nested%s", suffix) << u"Existing/planted"_s << packed;
        QTest::addRow("NUL%s", suffix) << (u"x"_s + QChar(0) + u"/../../outside"_s) << packed;
    }
}

void tst_CleanArchiveHostileInput::unsafeRelativePaths()
{
    QFETCH(QString, relativePath);
    QFETCH(bool, packed);
    relativePath.replace("@OUTSIDE@"_L1, QFile::decodeName(m_box->outside()));
    // Whatever the path would resolve to holds a file that would be restored.
    TarBuilder tar;
    tar.directory("x/");
    tar.file("x/planted", "planted");
    tar.file("planted", "planted");
    tar.directory("Documents/");
    tar.file("Documents/fine", "fine");
    const FilePath folder = m_box->makeArchive(
        "Brisko_paths", manifestJson({{relativePath, 0, false, {}}, {u"Documents"_s, 0, true, {}}}, packed));
    if (packed) {
        QVERIFY(tar.writeZstd(folder.native() + "/archive.tar.zst"));
    } else {
        m_box->scratch().writeFile("archive/CleanArchives/Brisko_paths/payload/x/planted", "planted");
        m_box->scratch().writeFile("archive/CleanArchives/Brisko_paths/payload/planted", "planted");
        m_box->scratch().writeFile("archive/CleanArchives/Brisko_paths/payload/Documents/fine", "fine");
    }
    const std::optional<CleanArchiveSummary> summary = m_box->listed("Brisko_paths");
    QVERIFY(summary);
    const RestoreResult result = contained(*summary);
    QCOMPARE(result.restored, 1);
    QCOMPARE(result.failed, 1);
    QCOMPARE(result.errors.size(), 1);
    // The message names the refused path.
    QVERIFY2(result.errors.first().startsWith(u"«"_s + relativePath + u"»: недопустимый путь"_s),
             qPrintable(result.errors.first()));
    QCOMPARE(entryNames(m_box->home().native()), (QStringList{u"Documents"_s, u"Existing"_s}));
    QVERIFY(!ScratchDir::exists("/etc/planted"));
}

void tst_CleanArchiveHostileInput::hostilePayloads_data()
{
    // Uncompressed archives: payload/ as someone left it, next to the manifest.
    QTest::addColumn<QString>("name");
    QTest::addColumn<RestoreResult>("expected");
    const auto failedWith = [](const char* message) {
        return RestoreResult{0, 0, 1, {QString::fromUtf8(message)}};
    };
    QTest::newRow("top folder linked out") << "linked-out" << failedWith("Documents: в архиве не папка");
    QTest::newRow("links inside come back as links") << "links" << RestoreResult{1, 0, 0, {}};
    QTest::newRow("a folder where a file is listed") << "kind" << failedWith("Documents: в архиве не файл");
    QTest::newRow("a file where a folder is listed") << "notes" << failedWith("notes: в архиве не папка");
    QTest::newRow("file digest off by one byte") << "digest" << failedWith("notes: SHA256 не совпадает");
    QTest::newRow("special file") << "fifo" << RestoreResult();
}

void tst_CleanArchiveHostileInput::hostilePayloads()
{
    QFETCH(QString, name);
    QFETCH(RestoreResult, expected);
    CleanArchiveEntry entry{u"Documents"_s, 0, true, {}};
    if (name == "kind"_L1) {
        entry.isDirectory = false;
    } else if (name == "notes"_L1 || name == "digest"_L1) {
        entry = {u"notes"_s, 5, name == "notes"_L1, QString()};
    }
    if (name == "digest"_L1) {
        entry.sha256 = QString::fromLatin1(independentSha256("hello"));
    }
    const FilePath folder = m_box->makeArchive("Brisko_plain", manifestJson({entry}, false));
    const QByteArray payload = folder.native().mid(m_box->root().size() + 1) + "/payload";
    ScratchDir& scratch = m_box->scratch();
    if (name == "linked-out"_L1) {
        scratch.makeLink(m_box->outside(), payload + "/Documents");
    } else if (name == "notes"_L1 || name == "digest"_L1) {
        scratch.writeFile(payload + "/notes", "hellp");
    } else {
        scratch.writeFile(payload + "/Documents/a", "a");
    }
    if (name == "links"_L1) {
        scratch.makeLink(m_box->outside(), payload + "/Documents/out");
        scratch.makeLink(m_box->outside() + "/victim", payload + "/Documents/victim");
    } else if (name == "fifo"_L1) {
        QCOMPARE(::mkfifo(m_box->path(payload + "/Documents/pipe").constData(), 0644), 0);
    }

    const RestoreResult result = contained(*m_box->listed("Brisko_plain"));
    if (name == "fifo"_L1) {
        QCOMPARE(result.failed, 1);
        QVERIFY(result.errors.first().startsWith(u"Documents: "_s));
    } else {
        QCOMPARE(result, expected);
    }
    const TreeInventory home = m_box->homeInventory();
    if (name == "links"_L1) {
        QCOMPARE(home.entries().value("Documents/out").linkTarget, m_box->outside());
        QCOMPARE(home.entries().value("Documents/victim").kind, TreeInventory::Entry::Kind::Symlink);
        QVERIFY(!home.entries().contains("Documents/out/victim"));
    } else {
        QCOMPARE(entryNames(m_box->home().native()), QStringList{u"Existing"_s});
    }
}

void tst_CleanArchiveHostileInput::existingLinkInTheHomeIsNotFollowed()
{
    m_box->scratch().makeLink(m_box->outside(), "home/Documents");
    m_box->scratch().makeLink(m_box->outside() + "/nowhere", "home/Desktop");
    const FilePath folder =
        m_box->makeArchive("Brisko_plain",
                           manifestJson({{u"Documents"_s, 0, true, {}}, {u"Desktop"_s, 0, true, {}}}, false));
    const QByteArray payload = folder.native().mid(m_box->root().size() + 1) + "/payload";
    m_box->scratch().writeFile(payload + "/Documents/victim", "overwritten");
    m_box->scratch().writeFile(payload + "/Desktop/planted", "planted");
    QCOMPARE(contained(*m_box->listed("Brisko_plain")), (RestoreResult{0, 2, 0, {}}));
    QVERIFY(!ScratchDir::exists(m_box->outside() + "/nowhere"));
}

BRISKO_TEST(tst_CleanArchiveHostileInput)
#include "tst_CleanArchiveHostileInput.moc"
