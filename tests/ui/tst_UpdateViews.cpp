#include "AppFixture.h"
#include "BriskoTest.h"
#include "IconTextLine.h"
#include "RecordingWorkspace.h"
#include "UpdateBanner.h"
#include "UpdateServerBed.h"
#include "UpdatesGroup.h"

#include "app/AppState.h"
#include "platform/PlatformFileSystem.h"
#include "update/UpdateError.h"
#include "update/UpdateService.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>

// The overview's banner and the settings' group side by side over one real
// update service and a loopback HTTPS server; the phases are the service's test.
class tst_UpdateViews : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_bed = std::make_unique<UpdateServerBed>();
        QVERIFY(m_bed->isValid());
        m_fixture = std::make_unique<AppFixture>();
        m_workspace = {};
        m_started.clear();
        m_quit = false;
        const auto image = m_bed->installed.makeImage(QStringLiteral("0.2.0"), QStringLiteral("2"),
                                                      m_bed->installed.makeTree("release", QStringLiteral("2")));
        QVERIFY(image);
        QFile file(image->path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        m_image = file.readAll();
        m_bed->publish(m_image);
    }

    void cleanup()
    {
        m_host.reset();
        m_updates.reset();
        m_state.reset();
    }
    void bothFollowTheUpdateToTheRelaunch()
    {
        // The first download is damaged on the way; the second is the signed image.
        QByteArray damaged = m_image;
        damaged[damaged.size() / 2] = char(damaged[damaged.size() / 2] ^ 0x5a);
        m_bed->server.enqueue(UpdateServerBed::imagePath(), ScriptedResponse::json(200, damaged));
        makeViews({}, false);
        QPushButton* check = button("checkForUpdates");
        QPushButton* action = button("updateAction");
        auto* offerLine = m_group->findChild<QLabel*>(QStringLiteral("updateOffer"));
        QVERIFY(!m_banner->isVisible() && !offerLine->isVisible() && !action->isVisible());

        // The group's button checks the stored address.
        QTest::mouseClick(check, Qt::LeftButton);
        QCOMPARE(check->text(), QStringLiteral("Проверка…"));
        QVERIFY(!check->isEnabled());
        QTRY_VERIFY(m_banner->isVisible());
        QCOMPARE(m_banner->title(), QStringLiteral("Доступна версия 0.2.0"));
        QCOMPARE(m_banner->toolTip(), QStringLiteral("Исправления"));
        QCOMPARE(bannerButtons(), offer());
        QCOMPARE(offerLine->text(), QStringLiteral("Доступна версия 0.2.0"));
        QCOMPARE(check->text(), QStringLiteral("Проверить обновления"));
        QVERIFY(check->isEnabled());
        QCOMPARE(action->text(), QStringLiteral("Скачать 0.2.0"));

        // The browser gets the download page through the workspace, nothing else.
        QTest::mouseClick(m_banner->buttons().at(1), Qt::LeftButton);
        QCOMPARE(m_workspace.opened, (QList<QUrl>{QUrl(m_bed->imageUrl())}));
        QCOMPARE(m_bed->server.count(UpdateServerBed::imagePath()), 0);

        QTest::mouseClick(action, Qt::LeftButton);
        QCOMPARE(m_banner->title(), QStringLiteral("Загрузка обновления…"));
        QVERIFY(m_banner->buttons().isEmpty());
        QCOMPARE(action->text(), QStringLiteral("Загрузка…"));
        QVERIFY(!action->isEnabled() && !check->isEnabled());
        QTRY_COMPARE(m_banner->message(), UpdateError::checksumMismatch);
        QCOMPARE(bannerButtons(), offer());
        // The retry clears the message.
        QTest::mouseClick(m_banner->buttons().at(0), Qt::LeftButton);
        QCOMPARE(m_banner->message(), QString());
        QTRY_COMPARE(m_banner->title(), QStringLiteral("Обновление загружено"));
        QCOMPARE(bannerButtons(), QStringList{QStringLiteral("Установить и перезапустить")});
        QCOMPARE(action->text(), QStringLiteral("Установить и перезапустить"));
        QVERIFY(action->isEnabled());
        QVERIFY(!m_group->findChild<QLabel*>(QStringLiteral("installInstructions"))->isVisible());

        QSignalSpy willRelaunch(m_updates.get(), &UpdateService::appWillRelaunchForUpdate);
        QTest::mouseClick(m_banner->buttons().at(0), Qt::LeftButton);
        QCOMPARE(m_banner->title(), QStringLiteral("Установка… приложение перезапустится"));
        QVERIFY(m_banner->buttons().isEmpty());
        QCOMPARE(action->text(), QStringLiteral("Установка…"));
        QVERIFY(!action->isEnabled());
        QVERIFY(willRelaunch.wait(60000));
        QTRY_VERIFY(m_quit);
        // Until the process ends the banner keeps saying what is happening.
        QCOMPARE(m_banner->title(), QStringLiteral("Установка… приложение перезапустится"));
    }

    void withoutAnInPlaceInstallBothTellHowToUpdate()
    {
        // This test runs from the build folder, outside the installed prefix.
        makeViews(std::make_shared<PlatformUpdateInstaller>(
            std::make_shared<PlatformFileSystem>(), m_bed->installed.deployment(), FilePath(m_bed->installed.prefix()),
            FilePath(QFile::encodeName(QCoreApplication::applicationFilePath())),
            FilePath(m_bed->installed.temporaryFolder())));
        QVERIFY(!m_updates->canInstallInPlace());
        QTest::mouseClick(m_banner->buttons().at(0), Qt::LeftButton);
        QTRY_COMPARE(m_banner->title(), QStringLiteral("Обновление загружено"));

        // Both say so before anything is tried: no install button that can only fail.
        const QString instructions = m_updates->installInstructions();
        QVERIFY(!instructions.isEmpty());
        QVERIFY(!button("updateAction")->isEnabled());
        auto* shown = m_group->findChild<QLabel*>(QStringLiteral("installInstructions"));
        QVERIFY(shown->isVisible());
        QCOMPARE(shown->text(), instructions);
        QCOMPARE(m_banner->message(), instructions);
        QCOMPARE(bannerButtons(), QStringList{QStringLiteral("Открыть в браузере")});
        // Asked to install anyway (as the command line can), the refusal is shown with the same text.
        m_updates->installDownloadedUpdate();
        QCOMPARE(m_banner->message(), instructions);
        QCOMPARE(bannerButtons(), offer());
        auto* status = m_group->findChild<IconTextLine*>(QStringLiteral("updateStatus"));
        QVERIFY(status->isVisible());
        QCOMPARE(status->text(), instructions);
        QVERIFY(m_started.isEmpty());
    }

private:
    QStringList bannerButtons() const
    {
        QStringList result;
        for (const QPushButton* button : m_banner->buttons())
            result.append(button->text());
        return result;
    }
    static QStringList offer() { return {QStringLiteral("Скачать обновление"), QStringLiteral("Открыть в браузере")}; }
    // The banner and the group over a service with this installer, the update found.
    void makeViews(std::shared_ptr<PlatformUpdateInstaller> installer = {}, bool check = true);
    QPushButton* button(const char* name) const { return m_group->findChild<QPushButton*>(QString::fromLatin1(name)); }

    std::unique_ptr<UpdateServerBed> m_bed;
    std::unique_ptr<AppFixture> m_fixture;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<UpdateService> m_updates;
    // Declared last: the views go before the services they observe.
    std::unique_ptr<QWidget> m_host;
    UpdateBanner* m_banner = nullptr;
    UpdatesGroup* m_group = nullptr;
    RecordingWorkspace m_workspace;
    QByteArray m_image;
    QStringList m_started;
    bool m_quit = false;
};

void tst_UpdateViews::makeViews(std::shared_ptr<PlatformUpdateInstaller> installer, bool check)
{
    m_updates = std::make_unique<UpdateService>(&m_bed->transport, m_fixture->errors,
                                                installer ? installer : m_bed->installed.installer(),
                                                m_bed->installed.deployment());
    UpdateService::Relaunch relaunch;
    relaunch.start = [this](const QString& program, const QStringList& arguments) {
        m_started = QStringList{program} + arguments;
        return true;
    };
    relaunch.quit = [this] { m_quit = true; };
    m_updates->setRelaunch(relaunch);
    m_state = std::make_unique<AppState>(m_fixture->environment());
    AppSettings settings = m_state->settings();
    settings.updateCheckURL = m_bed->versionUrl();
    m_state->setSettings(settings);
    WindowServices services;
    services.appState = m_state.get();
    services.updates = m_updates.get();
    services.workspace = &m_workspace;

    m_host = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(m_host.get());
    m_banner = new UpdateBanner(m_updates.get(), &m_workspace);
    m_group = new UpdatesGroup(services);
    layout->addWidget(m_banner);
    layout->addWidget(m_group);
    m_host->resize(900, 500);
    m_host->show();
    if (!check)
        return;
    m_updates->check(m_bed->versionUrl());
    QTRY_VERIFY(m_banner->isVisible());
}

BRISKO_TEST(tst_UpdateViews)
#include "tst_UpdateViews.moc"
