#include "BriskoTest.h"
#include "AppFixture.h"
#include "IconTextLine.h"
#include "LoopbackMakerServer.h"
#include "RecordingWorkspace.h"
#include "TestCertificate.h"
#include "UpdateBanner.h"
#include "UpdateTestBed.h"
#include "UpdatesGroup.h"

#include "app/AppState.h"
#include "base/Sha256.h"
#include "platform/PlatformFileSystem.h"
#include "update/UpdateError.h"
#include "update/UpdateService.h"

#include <QFile>
#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

// The window's update pieces driven by a real update service against a
// loopback HTTPS server: the overview's banner and the settings' group through
// the offer, the download, the ready image, the installation with its
// relaunch, a download that fails its checksum, and a copy that cannot
// replace itself. The server holds its answers back a little, so that every
// step in between stays on screen long enough to be looked at.
class tst_UpdateViews : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void bannerFollowsTheUpdateToTheRelaunch();
    void bannerOffersARetryAfterAFailedDownload();
    void settingsGroupFollowsTheCheckToTheRelaunch();
    void withoutAnInPlaceInstallBothTellHowToUpdate();

private:
    static QString versionPath() { return QStringLiteral("/api/brisko/version.json"); }
    static QString imagePath() { return QStringLiteral("/downloads/BriskoVella-0.2.0.tar.zst"); }
    static QStringList texts(const QList<QPushButton*>& buttons);
    // Publishes a signed build 2 (version 0.2.0) with its digest; the image
    // is answered after delayMs.
    bool publish(int delayMs);
    UpdateService* makeService(std::shared_ptr<PlatformUpdateInstaller> installer = {});
    AppState* makeState();
    // Shows the widgets in one window, as the overview and settings do.
    void show(const QList<QWidget*>& widgets);

    TestCertificate m_certificate;
    std::unique_ptr<LoopbackMakerServer> m_server;
    std::unique_ptr<HttpTransport> m_transport;
    std::unique_ptr<UpdateTestBed> m_bed;
    std::unique_ptr<AppFixture> m_fixture;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<UpdateService> m_updates;
    // Declared last: the views go before the services they observe.
    std::unique_ptr<QWidget> m_host;
    RecordingWorkspace m_workspace;
    QByteArray m_image;
    QStringList m_started;
    bool m_quit = false;
};

void tst_UpdateViews::initTestCase()
{
    m_certificate = TestCertificate::make();
    QVERIFY(m_certificate.isValid());
}

void tst_UpdateViews::init()
{
    m_server = std::make_unique<LoopbackMakerServer>();
    QVERIFY(m_server->listenTls(m_certificate.certificate, m_certificate.key, QStringLiteral("localhost")));
    m_transport = std::make_unique<HttpTransport>();
    m_transport->setAdditionalCaCertificates({m_certificate.certificate});
    m_bed = std::make_unique<UpdateTestBed>();
    QVERIFY(m_bed->isValid());
    m_fixture = std::make_unique<AppFixture>();
    m_workspace = {};
    m_started.clear();
    m_quit = false;
}

void tst_UpdateViews::cleanup()
{
    m_host.reset();
    m_updates.reset();
    m_state.reset();
    m_bed.reset();
    m_transport.reset();
    m_server.reset();
    m_fixture.reset();
}

QStringList tst_UpdateViews::texts(const QList<QPushButton*>& buttons)
{
    QStringList result;
    for (const QPushButton* button : buttons) {
        result.append(button->text());
    }
    return result;
}

bool tst_UpdateViews::publish(int delayMs)
{
    const auto image = m_bed->makeImage(QStringLiteral("0.2.0"), QStringLiteral("2"),
                                        m_bed->makeTree("release", QStringLiteral("2")));
    if (!image) {
        return false;
    }
    QFile file(image->path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    m_image = file.readAll();
    ScriptedResponse answer = ScriptedResponse::json(200, m_image);
    answer.delayMs = delayMs;
    m_server->setStanding(imagePath(), answer);
    const QJsonObject version{{QStringLiteral("version"), QStringLiteral("0.2.0")},
                              {QStringLiteral("build"), QStringLiteral("2")},
                              {QStringLiteral("download_url"), m_server->url(imagePath())},
                              {QStringLiteral("release_notes"), QStringLiteral("Исправления")},
                              {QStringLiteral("sha256"), QString::fromLatin1(Sha256::hexDigestOf(m_image))}};
    ScriptedResponse check = ScriptedResponse::json(200, QJsonDocument(version).toJson());
    check.delayMs = delayMs;
    m_server->setStanding(versionPath(), check);
    return true;
}

UpdateService* tst_UpdateViews::makeService(std::shared_ptr<PlatformUpdateInstaller> installer)
{
    m_updates = std::make_unique<UpdateService>(m_transport.get(), m_fixture->errors,
                                                   installer ? installer : m_bed->installer(), m_bed->deployment());
    UpdateService::Relaunch relaunch;
    relaunch.start = [this](const QString& program, const QStringList& arguments) {
        m_started = QStringList{program} + arguments;
        return true;
    };
    relaunch.quit = [this] { m_quit = true; };
    m_updates->setRelaunch(relaunch);
    return m_updates.get();
}

AppState* tst_UpdateViews::makeState()
{
    m_state = std::make_unique<AppState>(m_fixture->environment());
    return m_state.get();
}

void tst_UpdateViews::show(const QList<QWidget*>& widgets)
{
    m_host = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(m_host.get());
    for (QWidget* widget : widgets) {
        layout->addWidget(widget);
    }
    m_host->resize(900, 400);
    m_host->show();
}

void tst_UpdateViews::bannerFollowsTheUpdateToTheRelaunch()
{
    QVERIFY(publish(300));
    auto updates = makeService();
    auto* banner = new UpdateBanner(updates, &m_workspace);
    show({banner});
    QVERIFY(!banner->isVisible());

    updates->check(m_server->url(versionPath()));
    QTRY_VERIFY(banner->isVisible());
    QCOMPARE(banner->title(), QStringLiteral("Доступна версия 0.2.0"));
    QCOMPARE(banner->message(), QString());
    QCOMPARE(banner->toolTip(), QStringLiteral("Исправления"));
    QCOMPARE(texts(banner->buttons()), (QStringList{QStringLiteral("Скачать обновление"), QStringLiteral("Открыть в браузере")}));

    // The browser gets the download page through the workspace, nothing else.
    QTest::mouseClick(banner->buttons().at(1), Qt::LeftButton);
    QCOMPARE(m_workspace.opened, (QList<QUrl>{QUrl(m_server->url(imagePath()))}));
    QCOMPARE(m_server->count(imagePath()), 0);

    QTest::mouseClick(banner->buttons().at(0), Qt::LeftButton);
    QCOMPARE(banner->title(), QStringLiteral("Загрузка обновления…"));
    QVERIFY(banner->buttons().isEmpty());
    QTRY_COMPARE(m_server->count(imagePath()), 1);
    QCOMPARE(banner->title(), QStringLiteral("Загрузка обновления…"));

    QTRY_COMPARE(banner->title(), QStringLiteral("Обновление загружено"));
    QCOMPARE(texts(banner->buttons()), QStringList{QStringLiteral("Установить и перезапустить")});
    QCOMPARE(UpdateTestBed::sha256Of(updates->phase().localPath), QString::fromLatin1(Sha256::hexDigestOf(m_image)));

    QSignalSpy willRelaunch(updates, &UpdateService::appWillRelaunchForUpdate);
    QTest::mouseClick(banner->buttons().at(0), Qt::LeftButton);
    QCOMPARE(banner->title(), QStringLiteral("Установка… приложение перезапустится"));
    QVERIFY(banner->buttons().isEmpty());
    QVERIFY(willRelaunch.wait(60000));
    QTRY_VERIFY(m_quit);
    QCOMPARE(m_started.value(0), QString::fromUtf8(m_bed->prefix()) + QStringLiteral("/versions/2/Contents/bin/brisko"));
    // Until the process ends the banner keeps saying what is happening.
    QCOMPARE(banner->title(), QStringLiteral("Установка… приложение перезапустится"));
    QVERIFY(banner->isVisible());
    QVERIFY(m_fixture->errors->reports.isEmpty());
}

void tst_UpdateViews::bannerOffersARetryAfterAFailedDownload()
{
    QVERIFY(publish(150));
    // The first answer is damaged on the way; the second is the signed image.
    QByteArray damaged = m_image;
    damaged[damaged.size() / 2] = char(damaged[damaged.size() / 2] ^ 0x5a);
    ScriptedResponse first = ScriptedResponse::json(200, damaged);
    first.delayMs = 150;
    m_server->enqueue(imagePath(), first);
    auto updates = makeService();
    auto* banner = new UpdateBanner(updates, &m_workspace);
    show({banner});
    updates->check(m_server->url(versionPath()));
    QTRY_VERIFY(banner->isVisible());

    QTest::mouseClick(banner->buttons().at(0), Qt::LeftButton);
    QCOMPARE(banner->title(), QStringLiteral("Загрузка обновления…"));
    QTRY_COMPARE(banner->message(), UpdateError::checksumMismatch);
    QCOMPARE(banner->title(), QStringLiteral("Доступна версия 0.2.0"));
    QCOMPARE(texts(banner->buttons()), (QStringList{QStringLiteral("Скачать обновление"), QStringLiteral("Открыть в браузере")}));
    QCOMPARE(QDir(QString::fromUtf8(m_bed->prefix() + "/updates")).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(m_fixture->errors->reports.size(), 1);

    // The retry clears the message and ends with the verified image.
    QTest::mouseClick(banner->buttons().at(0), Qt::LeftButton);
    QCOMPARE(banner->title(), QStringLiteral("Загрузка обновления…"));
    QCOMPARE(banner->message(), QString());
    QTRY_COMPARE(banner->title(), QStringLiteral("Обновление загружено"));
    QCOMPARE(m_server->count(imagePath()), 2);
    QCOMPARE(texts(banner->buttons()), QStringList{QStringLiteral("Установить и перезапустить")});
}

void tst_UpdateViews::settingsGroupFollowsTheCheckToTheRelaunch()
{
    QVERIFY(publish(300));
    auto updates = makeService();
    AppState* state = makeState();
    AppSettings settings = state->settings();
    settings.updateCheckURL = m_server->url(versionPath());
    state->setSettings(settings);
    WindowServices services;
    services.appState = state;
    services.updates = updates;
    services.workspace = &m_workspace;
    auto* group = new UpdatesGroup(services);
    show({group});
    auto* check = group->findChild<QPushButton*>(QStringLiteral("checkForUpdates"));
    auto* offer = group->findChild<QLabel*>(QStringLiteral("updateOffer"));
    auto* action = group->findChild<QPushButton*>(QStringLiteral("updateAction"));
    auto* status = group->findChild<IconTextLine*>(QStringLiteral("updateStatus"));
    QVERIFY(check && offer && action && status);
    QCOMPARE(check->text(), QStringLiteral("Проверить обновления"));
    QVERIFY(!offer->isVisible());
    QVERIFY(!action->isVisible());

    QTest::mouseClick(check, Qt::LeftButton);
    QCOMPARE(check->text(), QStringLiteral("Проверка…"));
    QVERIFY(!check->isEnabled());
    QTRY_COMPARE(m_server->count(versionPath()), 1);
    QCOMPARE(check->text(), QStringLiteral("Проверка…"));

    QTRY_VERIFY(offer->isVisible());
    QCOMPARE(offer->text(), QStringLiteral("Доступна версия 0.2.0"));
    QCOMPARE(check->text(), QStringLiteral("Проверить обновления"));
    QVERIFY(check->isEnabled());
    QVERIFY(action->isVisible());
    QCOMPARE(action->text(), QStringLiteral("Скачать 0.2.0"));
    QVERIFY(action->isEnabled());
    QVERIFY(!status->isVisible());

    QTest::mouseClick(action, Qt::LeftButton);
    QCOMPARE(action->text(), QStringLiteral("Загрузка…"));
    QVERIFY(!action->isEnabled());
    QVERIFY(!check->isEnabled());
    QTRY_COMPARE(m_server->count(imagePath()), 1);
    QCOMPARE(action->text(), QStringLiteral("Загрузка…"));

    QTRY_COMPARE(action->text(), QStringLiteral("Установить и перезапустить"));
    QVERIFY(action->isEnabled());
    QVERIFY(check->isEnabled());
    QVERIFY(!group->findChild<QLabel*>(QStringLiteral("installInstructions"))->isVisible());

    QSignalSpy willRelaunch(updates, &UpdateService::appWillRelaunchForUpdate);
    QTest::mouseClick(action, Qt::LeftButton);
    QCOMPARE(action->text(), QStringLiteral("Установка…"));
    QVERIFY(!action->isEnabled());
    QVERIFY(!check->isEnabled());
    QVERIFY(willRelaunch.wait(60000));
    QTRY_VERIFY(m_quit);
    QCOMPARE(m_started.value(0), QString::fromUtf8(m_bed->prefix()) + QStringLiteral("/versions/2/Contents/bin/brisko"));
    QCOMPARE(m_server->count(versionPath()), 1);
    QVERIFY(m_fixture->errors->reports.isEmpty());
}

void tst_UpdateViews::withoutAnInPlaceInstallBothTellHowToUpdate()
{
    // This test runs from the build folder, outside the installed prefix.
    QVERIFY(publish(0));
    auto installer = std::make_shared<PlatformUpdateInstaller>(
        std::make_shared<PlatformFileSystem>(), m_bed->deployment(), FilePath(m_bed->prefix()),
        FilePath(QFile::encodeName(QCoreApplication::applicationFilePath())), FilePath(m_bed->temporaryFolder()));
    auto updates = makeService(installer);
    QVERIFY(!updates->canInstallInPlace());
    WindowServices services;
    services.appState = makeState();
    services.updates = updates;
    auto* banner = new UpdateBanner(updates, &m_workspace);
    auto* group = new UpdatesGroup(services);
    show({banner, group});
    auto* action = group->findChild<QPushButton*>(QStringLiteral("updateAction"));
    auto* instructions = group->findChild<QLabel*>(QStringLiteral("installInstructions"));

    updates->check(m_server->url(versionPath()));
    QTRY_VERIFY(banner->isVisible());
    QTest::mouseClick(banner->buttons().at(0), Qt::LeftButton);
    QTRY_COMPARE(banner->title(), QStringLiteral("Обновление загружено"));

    // The settings say so before anything is tried.
    QCOMPARE(action->text(), QStringLiteral("Установить и перезапустить"));
    QVERIFY(!action->isEnabled());
    QVERIFY(instructions->isVisible());
    QCOMPARE(instructions->text(), updates->installInstructions());
    QVERIFY(!instructions->text().isEmpty());

    // So does the banner: no install button that can only fail, the browser at hand.
    QCOMPARE(banner->message(), updates->installInstructions());
    QCOMPARE(texts(banner->buttons()), QStringList{QStringLiteral("Открыть в браузере")});
    // Asked to install anyway (as the command line can), the service refuses with the same text.
    updates->installDownloadedUpdate();
    QCOMPARE(updates->phase().kind, UpdatePhase::Kind::failed);
    QCOMPARE(banner->message(), updates->installInstructions());
    QCOMPARE(texts(banner->buttons()), (QStringList{QStringLiteral("Скачать обновление"), QStringLiteral("Открыть в браузере")}));
    auto* status = group->findChild<IconTextLine*>(QStringLiteral("updateStatus"));
    QVERIFY(status->isVisible());
    QCOMPARE(status->text(), updates->installInstructions());
    QVERIFY(m_started.isEmpty());
    QCOMPARE(QFileInfo(QString::fromUtf8(m_bed->prefix() + "/current")).symLinkTarget(),
             QString::fromUtf8(m_bed->prefix() + "/versions/1"));
}

BRISKO_TEST(tst_UpdateViews)
#include "tst_UpdateViews.moc"
