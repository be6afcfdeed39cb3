#include "BriskoTest.h"
#include "FaultInjectingFileSystem.h"
#include "TreeInventory.h"
#include "UpdateTestBed.h"
#include "../archive/TarBuilder.h"

#include "platform/PlatformFileSystem.h"
#include "update/UpdateError.h"

#include <QProcess>

#include <unistd.h>
#include <QtTest>

#include <functional>

// The Linux installer against real images made by the release tool, real tar
// and zstd: every way a bundle or an image can be hostile, and a full disk or
// a crash at every step of staging and switching.
class tst_UpdateInstaller : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void refusesHostileImages_data();
    void refusesHostileImages();
    void failureAtEveryStepKeepsACompleteTree_data();
    void failureAtEveryStepKeepsACompleteTree();
    void crashAtEveryStepRecoversACompleteTree();
    void installsOnlyFromTheUserPrefix();

private:
    // current leads to build 1 unchanged, or to a complete build 2; nothing
    // half-made lies around.
    void verifyCompleteTree(const QString& where);
    QStringList leftovers() const;
    // Puts build 1 back as the only installed one, without making keys and
    // images anew.
    void restorePrefix();

    std::unique_ptr<UpdateTestBed> m_bed;
    TreeInventory m_installed;
    TreeInventory m_expectedNew;
    QString m_image;
};

namespace {

const AppUpdateInfo build2{QStringLiteral("0.2.0"), QStringLiteral("2"), QUrl(), QString(), QString()};

// The hostile image of a row, made from the test bed and the good image.
using MakeImage = std::function<QString(UpdateTestBed&, const QString& good)>;

// The signed image unpacked, changed and packed again.
MakeImage tampered(const std::function<void(const QByteArray& app)>& change)
{
    return [change](UpdateTestBed& bed, const QString& good) {
        const QByteArray unpacked = bed.scratch().filePath("work/tampered");
        const QString image = QString::fromUtf8(bed.scratch().filePath("work/tampered.tar.zst"));
        if (!UpdateTestBed::unpack(good, unpacked)) {
            return QString();
        }
        change(unpacked + "/Brisko Vella.app");
        return UpdateTestBed::pack(unpacked, image) ? image : QString();
    };
}

// The bundle's first folders and what build adds, written by hand.
MakeImage built(const std::function<void(TarBuilder&)>& build)
{
    return [build](UpdateTestBed& bed, const QString&) {
        TarBuilder tar;
        for (const QByteArray& folder : {"", "/Contents", "/Contents/bin"}) {
            tar.directory("Brisko Vella.app" + folder);
        }
        build(tar);
        const QByteArray image = bed.scratch().filePath("work/hostile.tar.zst");
        return tar.writeZstd(image) ? QString::fromUtf8(image) : QString();
    };
}

void write(const QByteArray& path, const QByteArray& content)
{
    QFile file(QString::fromUtf8(path));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

} // namespace

void tst_UpdateInstaller::init()
{
    m_bed = std::make_unique<UpdateTestBed>();
    QVERIFY(m_bed->isValid());
    m_bed->scratch().makeDirectory("work");
    m_installed = TreeInventory::take(m_bed->prefix() + "/versions/1");
    const QByteArray tree = m_bed->makeTree("new", QStringLiteral("2"));
    const std::optional<UpdateTestBed::Image> image = m_bed->makeImage(QStringLiteral("0.2.0"), QStringLiteral("2"), tree);
    QVERIFY(image);
    m_image = image->path;
    QVERIFY(UpdateTestBed::unpack(m_image, m_bed->scratch().filePath("expected")));
    m_expectedNew = TreeInventory::take(m_bed->scratch().filePath("expected/Brisko Vella.app"));
}

void tst_UpdateInstaller::restorePrefix()
{
    const QString pristine = QString::fromUtf8(m_bed->scratch().filePath("pristine"));
    if (!QFile::exists(pristine)) {
        QVERIFY(QProcess::execute(QStringLiteral("/bin/cp"), {QStringLiteral("-a"), QString::fromUtf8(m_bed->prefix()), pristine}) == 0);
        return;
    }
    QVERIFY(ScratchDir::removeTree(m_bed->prefix()));
    QVERIFY(ScratchDir::removeTree(m_bed->temporaryFolder()));
    m_bed->scratch().makeDirectory("tmp");
    QVERIFY(QProcess::execute(QStringLiteral("/bin/cp"), {QStringLiteral("-a"), pristine, QString::fromUtf8(m_bed->prefix())}) == 0);
}

QStringList tst_UpdateInstaller::leftovers() const
{
    QStringList found;
    for (const QByteArray& folder : {m_bed->prefix(), m_bed->prefix() + "/versions", m_bed->temporaryFolder()}) {
        for (const QString& name : QDir(QString::fromUtf8(folder)).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
            if (name.startsWith(u'.') || folder == m_bed->temporaryFolder()) {
                found.append(name);
            }
        }
    }
    return found;
}

void tst_UpdateInstaller::verifyCompleteTree(const QString& where)
{
    const QFileInfo current(QString::fromUtf8(m_bed->prefix() + "/current"));
    QVERIFY2(current.isSymLink(), qPrintable(where));
    const QByteArray target = current.symLinkTarget().toUtf8();
    const bool isNew = target.endsWith("/versions/2");
    QVERIFY2(isNew || target.endsWith("/versions/1"), qPrintable(where + QString::fromUtf8(target)));
    const QStringList differences = TreeInventory::take(target).differencesFrom(isNew ? m_expectedNew : m_installed);
    QVERIFY2(differences.isEmpty(), qPrintable(where + differences.join(u'\n')));
    // The previous build stays as it was.
    QCOMPARE(TreeInventory::take(m_bed->prefix() + "/versions/1").differencesFrom(m_installed), QStringList());
    QVERIFY2(leftovers().isEmpty(), qPrintable(where + leftovers().join(u' ')));
}

void tst_UpdateInstaller::refusesHostileImages_data()
{
    QTest::addColumn<MakeImage>("image");
    QTest::addColumn<QString>("offeredBuild");
    QTest::addColumn<QStringList>("error");
    const QByteArray app = "Brisko Vella.app/Contents/";
    const QStringList badSignature{UpdateError::invalidCodeSignature};
    const auto unpacked = [](const char* reason) { return QStringList{UpdateError::mountFailed, QString::fromUtf8(reason)}; };
    QTest::newRow("signed with another key")
        << MakeImage([](UpdateTestBed& bed, const QString&) {
               const QString key = QString::fromUtf8(bed.scratch().filePath("work/other.pem"));
               const auto image = UpdateTestBed::makeKey(key).isEmpty()
                   ? std::nullopt
                   : bed.makeImage(QStringLiteral("0.2.0"), QStringLiteral("2"), bed.scratch().filePath("new"), key);
               return image ? image->path : QString();
           })
        << "2" << badSignature;
    QTest::newRow("file changed after signing")
        << tampered([](const QByteArray& app) { write(app + "/Contents/bin/brisko", "#!/bin/sh\necho evil\n"); }) << "2" << badSignature;
    QTest::newRow("file added after signing") << tampered([](const QByteArray& app) { write(app + "/Contents/lib/.preload", "x"); }) << "2" << badSignature;
    QTest::newRow("file removed after signing")
        << tampered([](const QByteArray& app) { QFile::remove(QString::fromUtf8(app + "/Contents/lib/libbrisko.so.1")); }) << "2" << badSignature;
    QTest::newRow("link added after signing")
        << tampered([](const QByteArray& app) { QFile::link(QStringLiteral("bin"), QString::fromUtf8(app + "/Contents/sbin")); }) << "2" << badSignature;
    QTest::newRow("signature replaced by another bundle's")
        << tampered([](const QByteArray& app) { write(app + "/Contents/_CodeSignature/CodeResources.sig", QByteArray(64, 'A')); }) << "2" << badSignature;
    QTest::newRow("older signed build offered as newer") << tampered([](const QByteArray&) {}) << "3" << badSignature;
    QTest::newRow("build that is no number") << tampered([](const QByteArray&) {}) << "2a" << QStringList{QStringLiteral("сборки")};
    QTest::newRow("another application's identifier")
        << tampered([](const QByteArray& app) {
               write(app + "/Contents/Info.json", R"({"CFBundleIdentifier":"ru.other.App","CFBundleShortVersionString":"0.2.0","CFBundleVersion":"2"})");
           })
        << "2" << QStringList{UpdateError::unexpectedAppBundle};
    QTest::newRow("differently named application")
        << tampered([](const QByteArray& app) { QDir().rename(QString::fromUtf8(app), QString::fromUtf8(app).replace(QStringLiteral("Brisko Vella"), QStringLiteral("Приложение"))); })
        << "2" << QStringList{UpdateError::appNotFoundInImage};
    QTest::newRow("traversal") << built([](TarBuilder& t) { t.file("../../outside", "x"); }) << "2" << unpacked("за пределы образа");
    QTest::newRow("traversal inside a path") << built([app](TarBuilder& t) { t.file(app + "bin/../../../../escape", "x"); }) << "2" << unpacked("за пределы образа");
    QTest::newRow("absolute name") << built([](TarBuilder& t) { t.file("/tmp/brisko-absolute", "x"); }) << "2" << unpacked("за пределы образа");
    QTest::newRow("link leaving the tree") << built([app](TarBuilder& t) { t.symlink(app + "home", "../../../.."); }) << "2" << unpacked("ссылка");
    QTest::newRow("absolute link") << built([app](TarBuilder& t) { t.symlink(app + "etc", "/etc"); }) << "2" << unpacked("ссылка");
    QTest::newRow("file written through a link")
        << built([app](TarBuilder& t) {
               t.symlink(app + "lib", "bin");
               t.file(app + "lib/brisko", "x");
           })
        << "2" << unpacked("не является папкой");
    QTest::newRow("hard link") << built([app](TarBuilder& t) { t.hardlink(app + "passwd", "/etc/passwd"); }) << "2" << unpacked("жёсткая ссылка");
    QTest::newRow("device") << built([app](TarBuilder& t) { t.characterDevice(app + "null"); }) << "2" << unpacked("устройства");
    QTest::newRow("fifo") << built([app](TarBuilder& t) { t.fifo(app + "pipe"); }) << "2" << unpacked("канал");
    QTest::newRow("set-uid program") << built([app](TarBuilder& t) { t.file(app + "bin/brisko", "x", 04755); }) << "2" << unpacked("set-uid");
    QTest::newRow("duplicate member")
        << built([app](TarBuilder& t) {
               t.file(app + "Info.json", "{}");
               t.file(app + "Info.json", "{}");
           })
        << "2" << unpacked("повторяется");
    QTest::newRow("too many members")
        << built([app](TarBuilder& t) {
               for (int i = 0; i < 40; ++i) {
                   t.file(app + "f" + QByteArray::number(i), "x");
               }
           })
        << "2" << unpacked("слишком много");
    QTest::newRow("too large") << built([app](TarBuilder& t) { t.file(app + "big", QByteArray(70000, 'z')); }) << "2" << unpacked("размера");
}

void tst_UpdateInstaller::refusesHostileImages()
{
    QFETCH(MakeImage, image);
    QFETCH(QString, offeredBuild);
    QFETCH(QStringList, error);
    const QString hostile = image(*m_bed, m_image);
    QVERIFY(!hostile.isEmpty());
    // Nothing is written anywhere but the mount point, which goes too.
    const TreeInventory before = TreeInventory::take(m_bed->scratch().path(), {"tmp", "work"});
    UpdateImageLimits limits;
    limits.maxEntries = 30;
    limits.maxUnpackedBytes = 64 * 1024;
    AppUpdateInfo offer = build2;
    offer.build = offeredBuild;
    const Outcome<QString> result = m_bed->installer({}, limits)->install(hostile, offer);
    QVERIFY(!result);
    for (const QString& part : error) {
        QVERIFY2(result.message().contains(part), qPrintable(result.message()));
    }
    QCOMPARE(TreeInventory::take(m_bed->scratch().path(), {"tmp", "work"}).differencesFrom(before), QStringList());
    QVERIFY(!QFile::exists(QStringLiteral("/tmp/brisko-absolute")));
    QCOMPARE(leftovers(), QStringList());
}

void tst_UpdateInstaller::failureAtEveryStepKeepsACompleteTree_data()
{
    QTest::addColumn<int>("error");
    QTest::newRow("disk full") << ENOSPC;
    QTest::newRow("input/output error") << EIO;
}

void tst_UpdateInstaller::failureAtEveryStepKeepsACompleteTree()
{
    QFETCH(int, error);
    restorePrefix();
    // Without a fault the signed newer build is installed and runs.
    auto counting = std::make_shared<FaultInjectingFileSystem>();
    const Outcome<QString> installed = m_bed->installer(counting)->install(m_image, build2);
    QVERIFY2(installed.ok(), qPrintable(installed.message()));
    QCOMPARE(*installed, QString::fromUtf8(m_bed->prefix() + "/versions/2/Contents/bin/brisko"));
    QVERIFY(QFileInfo(QString::fromUtf8(m_bed->prefix() + "/current")).symLinkTarget().endsWith(QLatin1String("/versions/2")));
    verifyCompleteTree(QStringLiteral("no fault: "));
    QProcess program;
    program.start(*installed, {});
    QVERIFY(program.waitForFinished());
    QCOMPARE(program.readAllStandardOutput(), QByteArray("brisko build 2\n"));
    const int operations = counting->operationCount();
    QVERIFY(operations > 20);

    for (int nth = 1; nth <= operations; ++nth) {
        restorePrefix();
        auto fs = std::make_shared<FaultInjectingFileSystem>();
        fs->failOperation(nth, error);
        const Outcome<QString> result = m_bed->installer(fs)->install(m_image, build2);
        const QString where = QStringLiteral("fault at operation %1: %2 ").arg(nth).arg(result.message());
        QVERIFY2(fs->faultFired(), qPrintable(where));
        verifyCompleteTree(where);
        if (!result) {
            QVERIFY2(QFileInfo(QString::fromUtf8(m_bed->prefix() + "/current")).symLinkTarget().endsWith(QLatin1String("/versions/1")),
                     qPrintable(where));
            QVERIFY2(!QFile::exists(QString::fromUtf8(m_bed->prefix() + "/versions/2")), qPrintable(where));
        }
    }
}

void tst_UpdateInstaller::crashAtEveryStepRecoversACompleteTree()
{
    // The helper installs in a process of its own that dies (_exit) at its
    // nth file-system operation; nth grows until the install gets through.
    bool sawNew = false;
    bool completed = false;
    restorePrefix();
    for (int nth = 1; nth <= 1000 && !completed; ++nth) {
        restorePrefix();
        QProcess helper;
        helper.start(QStringLiteral(UPDATE_INSTALL_HELPER),
                     {QString::fromUtf8(m_bed->prefix()), QString::fromUtf8(m_bed->temporaryFolder()), m_image,
                      QString::fromLatin1(m_bed->deployment().signingPublicKey.toHex()), QString::number(nth)});
        QVERIFY(helper.waitForFinished(60000));
        completed = helper.exitCode() == 0;
        if (!completed) {
            QCOMPARE(helper.exitCode(), 9);
            m_bed->installer()->installation().recover();
            // The system empties its temporary folder; a half-unpacked
            // mount point there is no concern of the installation.
            QDir(QString::fromUtf8(m_bed->temporaryFolder())).removeRecursively();
            QDir().mkpath(QString::fromUtf8(m_bed->temporaryFolder()));
        }
        verifyCompleteTree(QStringLiteral("crash at operation %1: ").arg(nth));
        sawNew = sawNew || QFileInfo(QString::fromUtf8(m_bed->prefix() + "/current")).symLinkTarget().endsWith(QLatin1String("/versions/2"));
    }
    QVERIFY(completed);
    QVERIFY(sawNew);
}

void tst_UpdateInstaller::installsOnlyFromTheUserPrefix()
{
    const auto inPrefix = m_bed->installer();
    QVERIFY(inPrefix->canInstallInPlace());
    PlatformUpdateInstaller elsewhere(std::make_shared<PlatformFileSystem>(), m_bed->deployment(), FilePath(m_bed->prefix()),
                                      FilePath("/usr/bin/env"), FilePath(m_bed->temporaryFolder()));
    QVERIFY(!elsewhere.canInstallInPlace());
    QVERIFY(elsewhere.installInstructions().contains(QStringLiteral("scripts/install-user")));
    QVERIFY(elsewhere.installInstructions().contains(QString::fromUtf8(m_bed->prefix())));
    QVERIFY(QFile::setPermissions(QString::fromUtf8(m_bed->prefix() + "/versions"), QFile::ReadOwner | QFile::ExeOwner));
    const bool writable = inPrefix->canInstallInPlace();
    QVERIFY(QFile::setPermissions(QString::fromUtf8(m_bed->prefix() + "/versions"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // root may write anywhere: only a real user sees the refusal.
    if (::geteuid() != 0) {
        QVERIFY(!writable);
    }
}

BRISKO_TEST(tst_UpdateInstaller)
#include "tst_UpdateInstaller.moc"
