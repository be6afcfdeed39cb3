#include "BriskoTest.h"
#include "LoopbackMakerServer.h"
#include "ViewTestBed.h"

#include "AppWindowConfigurator.h"
#include "EULAAcceptanceView.h"
#include "FirstLaunchOnboardingView.h"
#include "LaunchLoadingView.h"
#include "MainWindow.h"
#include "MakerContacts.h"
#include "RegionBlockedView.h"
#include "RootGateView.h"
#include "WindowServices.h"
#include "app/AppState.h"
#include "server/HttpTransport.h"
#include "server/RegionGateService.h"

#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTextBrowser>

using Screen = RootGateView::Screen;
using Status = RegionGateService::Status;

Q_DECLARE_METATYPE(Status)
Q_DECLARE_METATYPE(Screen)

namespace {

// The region gate asks a loopback stand-in for the maker's server.
struct GateTestBed : ViewTestBed
{
    LoopbackMakerServer server;
    HttpTransport transport;
    RegionGateService regionGate{&transport, QLocale(QLocale::Russian, QLocale::Russia)};
    bool listening = server.listen();

    GateTestBed() { setFlags(false, false); }
    void setFlags(bool eulaAccepted, bool onboardingCompleted)
    {
        AppSettings settings = state()->settings();
        settings.regionCheckURL = server.endpoint(QStringLiteral("region.php"));
        settings.eulaAccepted = eulaAccepted;
        settings.onboardingCompleted = onboardingCompleted;
        state()->setSettings(settings);
    }
    WindowServices services()
    {
        WindowServices services = ViewTestBed::services();
        services.regionGate = &regionGate;
        return services;
    }
};

} // namespace

// The launch gate against a real region check on a loopback server, then the
// window itself: its one fixed size, centring and its menus.
class tst_RootGateView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_bed = std::make_unique<GateTestBed>();
        QVERIFY(m_bed->listening);
        m_contentBuilt = 0;
        m_launchCalls.clear();
    }
    void cleanup() { m_bed.reset(); }
    // Whatever the stored flags; the allowed verdict is the new user's way below.
    void liveVerdicts_data()
    {
        QTest::addColumn<Status>("status");
        QTest::newRow("no answer yet") << Status::checking;
        QTest::newRow("blocked") << Status::blocked;
    }

    void liveVerdicts()
    {
        QFETCH(Status, status);
        m_bed->setFlags(true, true);
        const QString region = QStringLiteral("/api/brisko/region.php");
        ScriptedResponse silent;
        silent.ending = ScriptedResponse::Ending::neverAnswer;
        if (status == Status::checking)
            m_bed->server.enqueue(region, silent);
        else
            m_bed->server.setCountry(QStringLiteral("UA"));
        std::unique_ptr<RootGateView> gate = makeGate();
        QSignalSpy quit(gate.get(), &RootGateView::quitRequested);
        gate->show();
        QTRY_COMPARE(m_bed->server.count(region), qsizetype(1));
        QTRY_COMPARE(m_bed->regionGate.status(), status);
        QTRY_COMPARE(gate->screen(), status == Status::checking ? Screen::loading : Screen::regionBlocked);
        // The gate hears that the evaluation finished after the status is published.
        QCoreApplication::processEvents();
        QVERIFY(!gate->launchDutiesRequested());
        QWidget* shown = gate->currentScreenWidget();
        QVERIFY(shown->isVisible());
        // Neither content nor launch duties before an allowed verdict.
        QCOMPARE(std::pair(m_contentBuilt, launches()), std::pair(0, 0));

        auto* loading = qobject_cast<LaunchLoadingView*>(shown);
        QCOMPARE(bool(loading), status == Status::checking);
        if (loading) {
            QCOMPARE(loading->subtitle(), QStringLiteral("Проверка региона…"));
            QCOMPARE(loading->indicator()->maximum(), 0);
        }
        auto* blocked = qobject_cast<RegionBlockedView*>(shown);
        QCOMPARE(bool(blocked), status == Status::blocked);
        if (blocked) {
            // Only the way out.
            const QList<QPushButton*> buttons = blocked->findChildren<QPushButton*>();
            QCOMPARE(buttons.size(), 1);
            QCOMPARE(buttons.first()->text(), QStringLiteral("Выйти"));
            QStringList texts;
            for (const QLabel* label : blocked->findChildren<QLabel*>())
                texts.append(label->text());
            QVERIFY(texts.contains(QStringLiteral("Brisko Vella недоступен в вашем регионе.\n"
                                                  "Приложение предназначено для пользователей в Российской Федерации.")));
            QTest::mouseClick(buttons.first(), Qt::LeftButton);
            QCOMPARE(quit.size(), 1);
        }
    }

    void newUserAgreesAndChoosesTheArchive()
    {
        const QString archive = m_bed->fixture.home.makeDir(QStringLiteral("Внешний диск/Архив"));
        m_bed->fixture.chooser->answer = FilePath::fromString(archive);
        std::unique_ptr<RootGateView> gate = makeGate();
        QSignalSpy screens(gate.get(), &RootGateView::screenChanged);
        QSignalSpy started(gate.get(), &RootGateView::launchDutiesStarted);
        gate->show();
        // The region is asked first; the loading screen stands until it answers.
        QCOMPARE(gate->screen(), Screen::loading);
        QTRY_COMPARE(gate->screen(), Screen::agreement);
        auto* agreement = qobject_cast<EULAAcceptanceView*>(gate->currentScreenWidget());
        QVERIFY(agreement && agreement->isVisible());
        const QString text = agreement->textView()->toPlainText();
        QVERIFY(text.contains(QStringLiteral("Korvane")) && text.contains(QStringLiteral("Украины")));
        QVERIFY(text.trimmed().endsWith(QStringLiteral("согласны со всеми его условиями.")));
        // It names nobody to write to: no address, no link.
        for (const QString& contact : {QStringLiteral("@"), QStringLiteral("http"), QStringLiteral("www")})
            QVERIFY2(!text.contains(contact), qPrintable(contact));
        QCOMPARE(agreement->quitButton()->text(), QStringLiteral("Выйти"));
        // Return accepts, even from the text.
        QVERIFY(agreement->acceptButton()->isDefault());
        agreement->activateWindow();
        agreement->textView()->setFocus();
        QTest::keyClick(agreement->textView(), Qt::Key_Return);
        QCOMPARE(gate->screen(), Screen::introduction);
        QVERIFY(m_bed->state()->settings().eulaAccepted);

        // The introduction: welcome, the archive folder (chosen here), permissions.
        auto* view = qobject_cast<FirstLaunchOnboardingView*>(gate->currentScreenWidget());
        QVERIFY(view && view->isVisible());
        QVERIFY(!view->backButton()->isEnabled());
        QTest::mouseClick(view->nextButton(), Qt::LeftButton);
        QVERIFY(view->backButton()->isEnabled());
        QTest::mouseClick(view->chooseFolderButton(), Qt::LeftButton);
        QCOMPARE(m_bed->state()->settings().archivePath, archive);
        QCOMPARE(view->archivePathLabel()->toolTip(), archive);
        QTest::mouseClick(view->backButton(), Qt::LeftButton);
        QCOMPARE(view->step(), 0);
        QTest::mouseClick(view->nextButton(), Qt::LeftButton);
        QTest::mouseClick(view->nextButton(), Qt::LeftButton);
        QCOMPARE(view->step(), 2);
        QVERIFY(!view->nextButton()->isVisible() && !view->openSettingsButton()->isVisible());
        QVERIFY(!view->asksForFullDiskAccess());
        QTest::mouseClick(view->finishButton(), Qt::LeftButton);
        QCOMPARE(gate->screen(), Screen::content);
        const QList<QVariantList> seen{{QVariant::fromValue(Screen::agreement)},
                                       {QVariant::fromValue(Screen::introduction)},
                                       {QVariant::fromValue(Screen::content)}};
        QCOMPARE(QList<QVariantList>(screens), seen);

        // The duties run once, after the verdict; showing again, a new verdict
        // and changed settings run nothing again.
        QTRY_COMPARE(started.size(), 1);
        QCOMPARE(m_launchCalls, QStringList{QStringLiteral("crash handler")});
        gate->hide();
        gate->show();
        gate->runGateTask();
        QVERIFY(m_bed->regionGate.evaluate(m_bed->state()->settings().regionCheckURL).isValid());
        QTRY_COMPARE(m_bed->server.count(QStringLiteral("/api/brisko/region.php")), qsizetype(2));
        QTRY_COMPARE(m_bed->regionGate.status(), Status::allowed);
        AppSettings settings = m_bed->state()->settings();
        settings.showAds = false;
        m_bed->state()->setSettings(settings);
        QCoreApplication::processEvents();
        const QList<qsizetype> once{started.size(), m_launchCalls.size(), launches(), m_contentBuilt};
        QCOMPARE(once, QList<qsizetype>(4, 1));
    }

    void introductionAsksForAccessOnlyWhenMissing()
    {
        // A protected mail folder that cannot be opened.
        m_bed->fixture.fs->failOpen(QFile::encodeName(m_bed->fixture.home.makeDir(QStringLiteral("Library/Mail"))));
        FirstLaunchOnboardingView view(m_bed->services());
        view.show();
        view.setStep(2);
        QVERIFY(view.asksForFullDiskAccess());
        QCOMPARE(view.openSettingsButton()->text(), QStringLiteral("Открыть настройки «Полный доступ к диску»"));
        QTest::mouseClick(view.openSettingsButton(), Qt::LeftButton);
        QCOMPARE(m_bed->workspace.opened.size(), 1);
    }

    void installLocationAlert_data()
    {
        QTest::addColumn<AppRuntimeGuard::Risk>("risk");
        QTest::addColumn<QStringList>("buttons");
        QTest::newRow("disk image") << AppRuntimeGuard::Risk::diskImage
                                    << QStringList{RootGateView::openApplicationsText, RootGateView::dismissText};
        QTest::newRow("translocated") << AppRuntimeGuard::Risk::translocated << QStringList{RootGateView::dismissText};
    }

    void installLocationAlert()
    {
        QFETCH(AppRuntimeGuard::Risk, risk);
        QFETCH(QStringList, buttons);
        std::unique_ptr<RootGateView> gate = makeGate(risk);
        gate->show();
        QTRY_VERIFY(gate->runtimeAlert());
        ConfirmationSheet* alert = gate->runtimeAlert();
        QCOMPARE(gate->unsafeRuntimeMessage(), AppRuntimeGuard::message(risk));
        QCOMPARE(alert->windowTitle(), QStringLiteral("Перенесите приложение в «Программы»"));
        QCOMPARE(alert->messageLabel()->accessibleDescription(), AppRuntimeGuard::message(risk));
        // Dismissing is the default: Return never sends the user elsewhere.
        QVERIFY(alert->cancelButton()->isDefault());
        QStringList texts;
        QPushButton* press = nullptr;
        for (QPushButton* button : alert->buttons()) {
            texts.append(button->text());
            if (button->text() == buttons.first())
                press = button;
        }
        QCOMPARE(QSet<QString>(texts.cbegin(), texts.cend()), QSet<QString>(buttons.cbegin(), buttons.cend()));
        QCOMPARE(texts.size(), buttons.size());

        // The alert does not hold the launch up.
        QTRY_VERIFY(gate->launchDutiesRequested());
        QTRY_COMPARE(gate->screen(), Screen::agreement);
        press->click();
        QTRY_VERIFY(!gate->unsafeRuntimeMessage().has_value());
        QCOMPARE(m_bed->workspace.opened, press->text() == RootGateView::openApplicationsText
                                              ? QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/Applications"))}
                                              : QList<QUrl>{});
        QTRY_VERIFY(!gate->runtimeAlert());
    }

    void fixedSizeCentredOnlyOnce()
    {
        std::unique_ptr<MainWindow> window = makeWindow();
        QVERIFY(!window->configurator()->didCenter());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_VERIFY(window->configurator()->didCenter());
        const QRect available = window->screen()->availableGeometry();
        QTRY_COMPARE(window->frameGeometry().topLeft(),
                     AppWindowConfigurator::centredPosition(window->frameGeometry().size(), available));
        // One size, whatever is asked.
        const QSize fixed = window->size();
        for (const QSize asked : {QSize(1600, 1000), QSize(640, 480)}) {
            window->resize(asked);
            QCOMPARE(window->size(), fixed);
        }

        // Where the user puts it, it stays, through hiding and showing again.
        window->move(available.topLeft() + QPoint(7, 9));
        const QPoint moved = window->pos();
        window->hide();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCoreApplication::processEvents();
        QCOMPARE(window->pos(), moved);
    }

    void centredPosition()
    {
        const QSize frame(1300, 850);
        // A large screen beside another one: centred within it.
        const QRect large(1920, 0, 2560, 1400);
        const QPoint centred = AppWindowConfigurator::centredPosition(frame, large);
        QCOMPARE(QRect(centred, frame).center(), large.center());
        // A screen too small for the window: its top-left corner stays on the screen.
        const QRect small(0, 25, 1024, 743);
        QCOMPARE(AppWindowConfigurator::centredPosition(frame, small), QPoint(0, 25));
        const QRect narrow(100, 0, 1280, 1024);
        const QPoint narrowPosition = AppWindowConfigurator::centredPosition(frame, narrow);
        QCOMPARE(narrowPosition.x(), 100);
        QCOMPARE(QRect(narrowPosition, frame).center().y(), narrow.center().y());
    }

    void menus()
    {
        std::unique_ptr<MainWindow> window = makeWindow();
        QSignalSpy quit(window.get(), &MainWindow::quitRequested);
        const QList<QAction*> menus = window->menuBar()->actions();
        QCOMPARE(menus.size(), 2);

        // One window only: the File menu offers no way to open another.
        const QList<QAction*> file = menus.at(0)->menu()->actions();
        QCOMPARE(file.size(), 1);
        QCOMPARE(file.first()->text(), QStringLiteral("Выйти"));
        file.first()->trigger();
        QCOMPARE(quit.size(), 1);

        const QList<QAction*> help = menus.at(1)->menu()->actions();
        QCOMPARE(help.size(), 4);
        for (int i : {0, 1, 3})
            help.at(i)->trigger();
        const QString install = MakerContacts::website + QStringLiteral("/brisko-vella/install");
        QCOMPARE(m_bed->workspace.opened, (QList<QUrl>{QUrl(install + QStringLiteral("#faq")), QUrl(install),
                                                       QUrl(QStringLiteral("mailto:") + MakerContacts::email)}));
    }

private:
    std::unique_ptr<MainWindow> makeWindow()
    {
        return std::make_unique<MainWindow>(m_bed->services(), [] { return new QWidget; }, LaunchDuties{});
    }
    std::unique_ptr<RootGateView> makeGate(AppRuntimeGuard::Risk risk = AppRuntimeGuard::Risk::none)
    {
        LaunchDuties duties;
        duties.installCrashHandler = [this] { m_launchCalls.append(QStringLiteral("crash handler")); };
        auto gate = std::make_unique<RootGateView>(
            m_bed->services(),
            [this] {
                ++m_contentBuilt;
                return new QLabel(QStringLiteral("Обзор"));
            },
            duties);
        gate->setRuntimeRiskSource([risk] { return risk; });
        gate->resize(1300, 820);
        return gate;
    }
    int launches() const { return m_bed->fixture.usage->names().count(QStringLiteral("app_launch")); }

    std::unique_ptr<GateTestBed> m_bed;
    int m_contentBuilt = 0;
    QStringList m_launchCalls;
};

BRISKO_TEST(tst_RootGateView)
#include "tst_RootGateView.moc"
