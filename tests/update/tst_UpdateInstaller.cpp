#include "BriskoTest.h"
#include "FaultInjectingFileSystem.h"
#include "TestValues.h"
#include "TreeInventory.h"
#include "UpdateTestBed.h"
#include "../archive/TarBuilder.h"

#include "platform/PlatformFileSystem.h"
#include "update/UpdateError.h"

#include <QProcess>
#include <QtTest>

#include <functional>

#include <unistd.h>

// The Linux installer against real images made by the release tool, real tar
// and zstd: the signed good path, every way a bundle or an image can be
// hostile, and a full disk or a crash at every step of staging and switching.
class tst_UpdateInstaller : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { m_bed.reset(); }
    void refusesTamperedBundles_data();
    void refusesTamperedBundles();
    void refusesHostileImages_data();
    void refusesHostileImages();
    void failureAtEveryStepKeepsACompleteTree_data();
    void failureAtEveryStepKeepsACompleteTree();
    void crashAtEveryStepRecoversACompleteTree();
    void installsOnlyFromTheUserPrefix();

private:
    static AppUpdateInfo offer(const QString& build = QStringLiteral("2"))
    {
        return {QStringLiteral("0.2.0"), build, QUrl(QStringLiteral("https://localhost/image")), QString(), QString()};
    }
    QString prefix(const char* path) const { return QString::fromUtf8(m_bed->prefix() + path); }
    QString current() const { return QFileInfo(prefix("/current")).symLinkTarget(); }
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

void tst_UpdateInstaller::init()
{
    m_bed = std::make_unique<UpdateTestBed>();
    QVERIFY(m_bed->isValid());
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
    const bool first = !QFile::exists(pristine);
    if (!first) {
        QVERIFY(ScratchDir::removeTree(m_bed->prefix()) && ScratchDir::removeTree(m_bed->temporaryFolder()));
        m_bed->scratch().makeDirectory("tmp");
    }
    const QStringList copy{first ? prefix("") : pristine, first ? pristine : prefix("")};
    QCOMPARE(QProcess::execute(QStringLiteral("/bin/cp"), QStringList{QStringLiteral("-a")} + copy), 0);
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
    QVERIFY2(QFileInfo(prefix("/current")).isSymLink(), qPrintable(where));
    const QString target = current();
    const bool old = target.endsWith(QLatin1String("/versions/1"));
    QVERIFY2(old || target.endsWith(QLatin1String("/versions/2")), qPrintable(where + target));
    const QStringList differences = TreeInventory::take(target.toUtf8()).differencesFrom(old ? m_installed : m_expectedNew);
    QVERIFY2(differences.isEmpty(), qPrintable(where + differences.join(u'\n')));
}

void tst_UpdateInstaller::refusesTamperedBundles_data()
{
    QTest::addColumn<QString>("offeredBuild");
    QTest::addColumn<bool>("otherKey");
    QTest::addColumn<std::function<void(const QByteArray& app)>>("change");
    QTest::addColumn<QString>("error");
    using Change = std::function<void(const QByteArray&)>;
    const Change none = [](const QByteArray&) {};
    const auto overwrite = [](const char* path, const QByteArray& content) {
        return Change([=](const QByteArray& app) { QVERIFY(writeAll(QString::fromUtf8(app + path), content)); });
    };
    const QString invalid = UpdateError::invalidCodeSignature;
    QTest::newRow("signed with another key") << "2" << true << none << invalid;
    QTest::newRow("file changed after signing") << "2" << false << overwrite("/Contents/bin/brisko", "#!/bin/sh\necho evil\n") << invalid;
    QTest::newRow("file added after signing") << "2" << false << overwrite("/Contents/lib/.preload", "x") << invalid;
    QTest::newRow("file removed after signing")
        << "2" << false << Change([](const QByteArray& app) { QFile::remove(QString::fromUtf8(app + "/Contents/lib/libbrisko.so.1")); })
        << invalid;
    QTest::newRow("link added after signing")
        << "2" << false << Change([](const QByteArray& app) { QFile::link(QStringLiteral("bin"), QString::fromUtf8(app + "/Contents/sbin")); })
        << invalid;
    QTest::newRow("signature replaced by another bundle's")
        << "2" << false << overwrite("/Contents/_CodeSignature/CodeResources.sig", QByteArray(64, 'A')) << invalid;
    QTest::newRow("older signed build offered as newer") << "3" << false << none << invalid;
    QTest::newRow("another application's identifier")
        << "2" << false
        << overwrite("/Contents/Info.json", R"({"CFBundleIdentifier":"ru.other.App","CFBundleShortVersionString":"0.2.0","CFBundleVersion":"2"})")
        << UpdateError::unexpectedAppBundle;
    QTest::newRow("differently named application")
        << "2" << false
        << Change([](const QByteArray& app) { QVERIFY(QDir().rename(QString::fromUtf8(app), QString::fromUtf8(app).replace(QStringLiteral("Brisko Vella"), QStringLiteral("Приложение")))); })
        << UpdateError::appNotFoundInImage;
}

void tst_UpdateInstaller::refusesTamperedBundles()
{
    QFETCH(QString, offeredBuild);
    QFETCH(bool, otherKey);
    QFETCH(std::function<void(const QByteArray&)>, change);
    QFETCH(QString, error);
    QString image = m_image;
    if (otherKey) {
        const QString key = QString::fromUtf8(m_bed->scratch().filePath("other.pem"));
        QVERIFY(!UpdateTestBed::makeKey(key).isEmpty());
        const auto signedElsewhere = m_bed->makeImage(QStringLiteral("0.2.0"), QStringLiteral("2"), m_bed->scratch().filePath("new"), key);
        QVERIFY(signedElsewhere);
        image = signedElsewhere->path;
    }
    const QByteArray unpacked = m_bed->scratch().filePath("tampered");
    QVERIFY(UpdateTestBed::unpack(image, unpacked));
    change(unpacked + "/Brisko Vella.app");
    image = QString::fromUtf8(m_bed->scratch().filePath("tampered.tar.zst"));
    QVERIFY(UpdateTestBed::pack(unpacked, image));

    const TreeInventory before = TreeInventory::take(m_bed->prefix());
    const Outcome<QString> result = m_bed->installer()->install(image, offer(offeredBuild));
    QCOMPARE(result.message(), error);
    QCOMPARE(TreeInventory::take(m_bed->prefix()).differencesFrom(before), QStringList());
    QCOMPARE(leftovers(), QStringList());
}

void tst_UpdateInstaller::refusesHostileImages_data()
{
    QTest::addColumn<std::function<void(TarBuilder&)>>("build");
    QTest::addColumn<QString>("reason");
    using Build = std::function<void(TarBuilder&)>;
    const QByteArray app = "Brisko Vella.app/Contents/";
    QTest::newRow("traversal") << Build([](TarBuilder& t) { t.file("../../outside", "x"); }) << "за пределы образа";
    QTest::newRow("traversal inside a path") << Build([app](TarBuilder& t) { t.file(app + "bin/../../../../escape", "x"); }) << "за пределы образа";
    QTest::newRow("absolute name") << Build([](TarBuilder& t) { t.file("/tmp/brisko-absolute", "x"); }) << "за пределы образа";
    QTest::newRow("link leaving the tree") << Build([app](TarBuilder& t) { t.symlink(app + "home", "../../../.."); }) << "ссылка";
    QTest::newRow("absolute link") << Build([app](TarBuilder& t) { t.symlink(app + "etc", "/etc"); }) << "ссылка";
    QTest::newRow("file written through a link")
        << Build([app](TarBuilder& t) {
               t.symlink(app + "lib", "bin");
               t.file(app + "lib/brisko", "x");
           })
        << "не является папкой";
    QTest::newRow("hard link") << Build([app](TarBuilder& t) { t.hardlink(app + "passwd", "/etc/passwd"); }) << "жёсткая ссылка";
    QTest::newRow("device") << Build([app](TarBuilder& t) { t.characterDevice(app + "null"); }) << "устройства";
    QTest::newRow("fifo") << Build([app](TarBuilder& t) { t.fifo(app + "pipe"); }) << "канал";
    QTest::newRow("set-uid program") << Build([app](TarBuilder& t) { t.file(app + "bin/brisko", "x", 04755); }) << "set-uid";
    QTest::newRow("duplicate member")
        << Build([app](TarBuilder& t) {
               t.file(app + "Info.json", "{}");
               t.file(app + "Info.json", "{}");
           })
        << "повторяется";
    QTest::newRow("too many members")
        << Build([app](TarBuilder& t) {
               for (int i = 0; i < 40; ++i) {
                   t.file(app + "f" + QByteArray::number(i), "x");
               }
           })
        << "слишком много";
    QTest::newRow("too large") << Build([app](TarBuilder& t) { t.file(app + "big", QByteArray(70000, 'z')); }) << "размера";
}

void tst_UpdateInstaller::refusesHostileImages()
{
    QFETCH(std::function<void(TarBuilder&)>, build);
    QFETCH(QString, reason);
    TarBuilder tar;
    tar.directory("Brisko Vella.app");
    tar.directory("Brisko Vella.app/Contents");
    tar.directory("Brisko Vella.app/Contents/bin");
    build(tar);
    const QByteArray image = m_bed->scratch().filePath("hostile.tar.zst");
    QVERIFY(tar.writeZstd(image));
    const TreeInventory before = TreeInventory::take(m_bed->scratch().path(), {"tmp", "hostile.tar.zst"});
    UpdateImageLimits limits;
    limits.maxEntries = 30;
    limits.maxUnpackedBytes = 64 * 1024;
    const Outcome<QString> result = m_bed->installer({}, limits)->install(QString::fromUtf8(image), offer());
    QVERIFY2(result.message().startsWith(UpdateError::mountFailed), qPrintable(result.message()));
    QVERIFY2(result.message().contains(reason), qPrintable(result.message()));
    QCOMPARE(TreeInventory::take(m_bed->scratch().path(), {"tmp", "hostile.tar.zst"}).differencesFrom(before), QStringList());
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
    const AppUpdateInfo update = offer();
    restorePrefix();
    auto counting = std::make_shared<FaultInjectingFileSystem>();
    QVERIFY(m_bed->installer(counting)->install(m_image, update).ok());
    const int operations = counting->operationCount();
    QVERIFY(operations > 20);

    for (int nth = 1; nth <= operations; ++nth) {
        restorePrefix();
        auto fs = std::make_shared<FaultInjectingFileSystem>();
        fs->failOperation(nth, error);
        const Outcome<QString> result = m_bed->installer(fs)->install(m_image, update);
        const QString where = QStringLiteral("fault at operation %1: ").arg(nth);
        QVERIFY2(fs->faultFired(), qPrintable(where));
        verifyCompleteTree(where);
        if (!result.ok()) {
            QVERIFY2(current().endsWith(QLatin1String("/versions/1")), qPrintable(where + result.message()));
            QVERIFY2(!QFile::exists(prefix("/versions/2")), qPrintable(where));
        }
        QVERIFY2(leftovers().isEmpty(), qPrintable(where + leftovers().join(u' ') + u' ' + result.message()));
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
        const QString where = QStringLiteral("crash at operation %1: ").arg(nth);
        completed = helper.exitCode() == 0;
        if (!completed) {
            QCOMPARE(helper.exitCode(), 9);
            m_bed->installer()->installation().recover();
            // The system empties its temporary folder; a half-unpacked
            // mount point there is no concern of the installation.
            QDir(QString::fromUtf8(m_bed->temporaryFolder())).removeRecursively();
            QDir().mkpath(QString::fromUtf8(m_bed->temporaryFolder()));
        }
        verifyCompleteTree(where);
        sawNew = sawNew || current().endsWith(QLatin1String("/versions/2"));
        QVERIFY2(leftovers().isEmpty(), qPrintable(where + leftovers().join(u' ')));
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
    QVERIFY(elsewhere.installInstructions().contains(prefix("")));
    QVERIFY(QFile::setPermissions(prefix("/versions"), QFile::ReadOwner | QFile::ExeOwner));
    const bool writable = inPrefix->canInstallInPlace();
    QVERIFY(QFile::setPermissions(prefix("/versions"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // root may write anywhere: only a real user sees the refusal.
    if (::geteuid() != 0) {
        QVERIFY(!writable);
    }
}

BRISKO_TEST(tst_UpdateInstaller)
#include "tst_UpdateInstaller.moc"
