#include "BriskoTest.h"
#include "GateTestBed.h"

#include "EULAAcceptanceView.h"
#include "FirstLaunchOnboardingView.h"
#include "LaunchLoadingView.h"
#include "RegionBlockedView.h"
#include "RootGateView.h"
#include "model/ReferenceDate.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>

using Screen = RootGateView::Screen;
using Status = RegionGateService::Status;

Q_DECLARE_METATYPE(Status)
Q_DECLARE_METATYPE(Screen)

// The launch gate against a real region check on a loopback server: which
// screen stands for every region verdict and stored flag, that the launch
// duties run once and only after an allowed verdict, the agreement and the
// introduction, and the install-location alert.
class tst_RootGateView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void screenForEveryVerdictAndFlags_data();
    void screenForEveryVerdictAndFlags();
    void launchDutiesRunOnceAfterAnAllowedVerdict();
    void blockedVerdictShowsOnlyTheWayOut();
    void agreementThenIntroductionThenContent();
    void introductionSteps();
    void permissionsStepAsksOnlyWhenAccessIsMissing();
    void installLocationAlert_data();
    void installLocationAlert();

private:
    std::unique_ptr<RootGateView> makeGate(AppRuntimeGuard::Risk risk = AppRuntimeGuard::Risk::none);

    std::unique_ptr<GateTestBed> m_bed;
    int m_contentBuilt = 0;
    QPointer<QWidget> m_content;
    QStringList m_launchCalls;
};

void tst_RootGateView::init()
{
    m_bed = std::make_unique<GateTestBed>();
    QVERIFY(m_bed->listening);
    m_contentBuilt = 0;
    m_launchCalls.clear();
}

void tst_RootGateView::cleanup()
{
    m_bed.reset();
}

std::unique_ptr<RootGateView> tst_RootGateView::makeGate(AppRuntimeGuard::Risk risk)
{
    LaunchDuties duties;
    duties.installCrashHandler = [this] { m_launchCalls.append(QStringLiteral("crash handler")); };
    auto gate = std::make_unique<RootGateView>(
        m_bed->services(),
        [this] {
            ++m_contentBuilt;
            auto* content = new QLabel(QStringLiteral("Обзор"));
            m_content = content;
            return content;
        },
        duties);
    gate->setRuntimeRiskSource([risk] { return risk; });
    gate->resize(1300, 820);
    return gate;
}

void tst_RootGateView::screenForEveryVerdictAndFlags_data()
{
    QTest::addColumn<Status>("status");
    QTest::addColumn<bool>("eulaAccepted");
    QTest::addColumn<bool>("onboardingCompleted");
    QTest::addColumn<Screen>("expected");

    for (bool eula : {false, true}) {
        for (bool onboarding : {false, true}) {
            const QByteArray flags = QByteArray(eula ? " eula" : " no-eula") + (onboarding ? " intro" : " no-intro");
            QTest::newRow("checking" + flags) << Status::checking << eula << onboarding << Screen::loading;
            QTest::newRow("blocked" + flags) << Status::blocked << eula << onboarding << Screen::regionBlocked;
        }
    }
    QTest::newRow("allowed no-eula no-intro") << Status::allowed << false << false << Screen::agreement;
    QTest::newRow("allowed no-eula intro") << Status::allowed << false << true << Screen::agreement;
    QTest::newRow("allowed eula no-intro") << Status::allowed << true << false << Screen::introduction;
    QTest::newRow("allowed eula intro") << Status::allowed << true << true << Screen::content;
}

void tst_RootGateView::screenForEveryVerdictAndFlags()
{
    QFETCH(Status, status);
    QFETCH(bool, eulaAccepted);
    QFETCH(bool, onboardingCompleted);
    QFETCH(Screen, expected);

    QCOMPARE(RootGateView::chooseScreen(status, eulaAccepted, onboardingCompleted), expected);

    // The same choice in a live gate, the verdict coming from the server.
    m_bed->setFlags(eulaAccepted, onboardingCompleted);
    const QString region = QStringLiteral("/api/brisko/region.php");
    if (status == Status::checking) {
        ScriptedResponse silent;
        silent.ending = ScriptedResponse::Ending::neverAnswer;
        m_bed->server.enqueue(region, silent);
    } else {
        m_bed->server.setCountry(status == Status::blocked ? QStringLiteral("UA") : QStringLiteral("RU"));
    }
    std::unique_ptr<RootGateView> gate = makeGate();
    gate->show();
    QTRY_COMPARE(m_bed->server.count(region), qsizetype(1));
    if (status != Status::checking) {
        QTRY_COMPARE(m_bed->regionGate.status(), status);
    }
    QCOMPARE(m_bed->regionGate.status(), status);
    QCOMPARE(gate->screen(), expected);

    QWidget* shown = gate->currentScreenWidget();
    switch (expected) {
    case Screen::loading: {
        auto* loading = qobject_cast<LaunchLoadingView*>(shown);
        QVERIFY(loading);
        QCOMPARE(loading->title(), QStringLiteral("Brisko Vella"));
        QCOMPARE(loading->subtitle(), QStringLiteral("Проверка региона…"));
        QCOMPARE(loading->indicator()->maximum(), 0);
        break;
    }
    case Screen::regionBlocked:
        QVERIFY(qobject_cast<RegionBlockedView*>(shown));
        break;
    case Screen::agreement:
        QVERIFY(qobject_cast<EULAAcceptanceView*>(shown));
        break;
    case Screen::introduction:
        QVERIFY(qobject_cast<FirstLaunchOnboardingView*>(shown));
        break;
    case Screen::content:
        QCOMPARE(shown, m_content.data());
        break;
    }
    QVERIFY(shown->isVisible());
    // The main content is built only when it is to be shown.
    QCOMPARE(m_contentBuilt, expected == Screen::content ? 1 : 0);
    // Launch duties only after an allowed verdict, whatever screen stands. The
    // gate hears that the evaluation finished after the status is published.
    QTRY_COMPARE(gate->launchDutiesRequested(), status == Status::allowed);
    QCOMPARE(m_bed->fixture.usage->names().count(QStringLiteral("app_launch")), status == Status::allowed ? 1 : 0);
}

void tst_RootGateView::launchDutiesRunOnceAfterAnAllowedVerdict()
{
    m_bed->setFlags(true, true);
    std::unique_ptr<RootGateView> gate = makeGate();
    QSignalSpy started(gate.get(), &RootGateView::launchDutiesStarted);
    gate->show();
    QVERIFY(started.wait());
    QCOMPARE(m_launchCalls, QStringList{QStringLiteral("crash handler")});
    QCOMPARE(gate->screen(), Screen::content);

    // Showing again, a new verdict and changed settings run nothing again.
    gate->hide();
    gate->show();
    gate->runGateTask();
    QVERIFY(m_bed->regionGate.evaluate(m_bed->appState->settings().regionCheckURL).isValid());
    QTRY_COMPARE(m_bed->server.count(QStringLiteral("/api/brisko/region.php")), qsizetype(2));
    QTRY_COMPARE(m_bed->regionGate.status(), Status::allowed);
    m_bed->setFlags(true, true);
    AppSettings settings = m_bed->appState->settings();
    settings.showAds = false;
    m_bed->appState->setSettings(settings);
    QTest::qWait(50);
    QCOMPARE(started.size(), 1);
    QCOMPARE(m_launchCalls.size(), 1);
    QCOMPARE(m_bed->fixture.usage->names().count(QStringLiteral("app_launch")), 1);
    QCOMPARE(m_contentBuilt, 1);
}

void tst_RootGateView::blockedVerdictShowsOnlyTheWayOut()
{
    m_bed->setFlags(true, true);
    m_bed->server.setCountry(QStringLiteral("UA"));
    std::unique_ptr<RootGateView> gate = makeGate();
    QSignalSpy quit(gate.get(), &RootGateView::quitRequested);
    QSignalSpy screens(gate.get(), &RootGateView::screenChanged);
    gate->show();
    QVERIFY(screens.wait());
    QCOMPARE(gate->screen(), Screen::regionBlocked);
    QTest::qWait(100);
    QVERIFY(!gate->launchDutiesRequested());
    QVERIFY(m_launchCalls.isEmpty());
    QVERIFY(m_bed->fixture.usage->events.isEmpty());
    QCOMPARE(m_contentBuilt, 0);

    auto* blocked = qobject_cast<RegionBlockedView*>(gate->currentScreenWidget());
    QVERIFY(blocked);
    const QList<QPushButton*> buttons = blocked->findChildren<QPushButton*>();
    QCOMPARE(buttons.size(), 1);
    QCOMPARE(buttons.first()->text(), QStringLiteral("Выйти"));
    QStringList texts;
    for (const QLabel* label : blocked->findChildren<QLabel*>()) {
        texts.append(label->text());
    }
    QVERIFY(texts.contains(QStringLiteral("Регион не поддерживается")));
    QVERIFY(texts.contains(QStringLiteral("Brisko Vella недоступен в вашем регионе.\n"
                                          "Приложение предназначено для пользователей в Российской Федерации.")));
    QTest::mouseClick(buttons.first(), Qt::LeftButton);
    QCOMPARE(quit.size(), 1);
}

void tst_RootGateView::agreementThenIntroductionThenContent()
{
    const QDateTime now(QDate(2026, 4, 1), QTime(9, 0), Qt::UTC);
    m_bed->fixture.clock->setNow(now);
    std::unique_ptr<RootGateView> gate = makeGate();
    gate->show();
    QTRY_COMPARE(gate->screen(), Screen::agreement);
    QTRY_VERIFY(gate->launchDutiesRequested());

    auto* agreement = qobject_cast<EULAAcceptanceView*>(gate->currentScreenWidget());
    QVERIFY(agreement);
    const QString text = agreement->textView()->toPlainText();
    QVERIFY(text.contains(QStringLiteral("Brisko Vella")) && text.contains(QStringLiteral("Korvane")));
    QVERIFY(text.contains(QStringLiteral("Украины")));
    QVERIFY(text.trimmed().endsWith(QStringLiteral("согласны со всеми его условиями.")));
    // It names nobody to write to: no address, no link.
    QVERIFY(!text.contains(u'@'));
    QVERIFY(!text.contains(QStringLiteral("http")));
    QVERIFY(!text.contains(QStringLiteral("www")));
    QVERIFY(agreement->acceptButton()->isDefault());
    QCOMPARE(agreement->acceptButton()->text(), QStringLiteral("Принимаю"));
    QCOMPARE(agreement->quitButton()->text(), QStringLiteral("Выйти"));

    // Return accepts.
    agreement->activateWindow();
    agreement->textView()->setFocus();
    QTest::keyClick(agreement->textView(), Qt::Key_Return);
    QVERIFY(m_bed->appState->settings().eulaAccepted);
    QCOMPARE(ReferenceDate::toDateTime(m_bed->appState->settings().eulaAcceptedAt.value()), now);
    QCOMPARE(gate->screen(), Screen::introduction);

    auto* introduction = qobject_cast<FirstLaunchOnboardingView*>(gate->currentScreenWidget());
    QVERIFY(introduction);
    QTest::mouseClick(introduction->nextButton(), Qt::LeftButton);
    QTest::mouseClick(introduction->nextButton(), Qt::LeftButton);
    QVERIFY(!introduction->nextButton()->isVisible());
    QTest::mouseClick(introduction->finishButton(), Qt::LeftButton);
    QCOMPARE(gate->screen(), Screen::content);
    QCOMPARE(m_contentBuilt, 1);

    // The next launch reads both flags and goes straight to the content.
    AppState next(m_bed->fixture.environment());
    QVERIFY(next.settings().eulaAccepted);
    QCOMPARE(next.settings().eulaAcceptedAt, m_bed->appState->settings().eulaAcceptedAt);
    QVERIFY(next.settings().onboardingCompleted);
    QCOMPARE(RootGateView::chooseScreen(Status::allowed, next.settings().eulaAccepted,
                                        next.settings().onboardingCompleted),
             Screen::content);
}

void tst_RootGateView::introductionSteps()
{
    const QString chosen = m_bed->fixture.home.makeDir(QStringLiteral("Внешний диск/Архив"));
    m_bed->fixture.chooser->answer = FilePath::fromString(chosen);
    FirstLaunchOnboardingView view(m_bed->services());
    view.show();

    QCOMPARE(view.step(), 0);
    QVERIFY(!view.backButton()->isEnabled());
    QVERIFY(view.nextButton()->isVisible());
    QVERIFY(!view.finishButton()->isVisible());

    QTest::mouseClick(view.nextButton(), Qt::LeftButton);
    QCOMPARE(view.step(), 1);
    QVERIFY(view.backButton()->isEnabled());
    QCOMPARE(view.archivePathLabel()->toolTip(), m_bed->appState->settings().archivePath);
    QTest::mouseClick(view.chooseFolderButton(), Qt::LeftButton);
    QCOMPARE(m_bed->fixture.chooser->asked.size(), 1);
    QCOMPARE(m_bed->appState->settings().archivePath, chosen);
    QCOMPARE(view.archivePathLabel()->toolTip(), chosen);

    QTest::mouseClick(view.backButton(), Qt::LeftButton);
    QCOMPARE(view.step(), 0);
    view.setStep(7);
    QCOMPARE(view.step(), FirstLaunchOnboardingView::totalSteps - 1);
    QVERIFY(view.finishButton()->isVisible());
    QVERIFY(!m_bed->appState->settings().onboardingCompleted);
    QTest::mouseClick(view.finishButton(), Qt::LeftButton);
    QVERIFY(m_bed->appState->settings().onboardingCompleted);
}

void tst_RootGateView::permissionsStepAsksOnlyWhenAccessIsMissing()
{
    {
        FirstLaunchOnboardingView view(m_bed->services());
        view.show();
        view.setStep(2);
        QVERIFY(!view.asksForFullDiskAccess());
        QVERIFY(!view.openSettingsButton()->isVisible());
    }

    // A protected mail folder that cannot be opened.
    const QString mail = m_bed->fixture.home.makeDir(QStringLiteral("Library/Mail"));
    m_bed->fixture.fs->failOpen(QFile::encodeName(mail));
    FirstLaunchOnboardingView view(m_bed->services());
    view.show();
    view.setStep(2);
    QVERIFY(view.asksForFullDiskAccess());
    QVERIFY(view.openSettingsButton()->isVisible());
    QCOMPARE(view.openSettingsButton()->text(), QStringLiteral("Открыть настройки «Полный доступ к диску»"));
    QTest::mouseClick(view.openSettingsButton(), Qt::LeftButton);
    QCOMPARE(m_bed->workspace.opened.size(), 1);
}

void tst_RootGateView::installLocationAlert_data()
{
    QTest::addColumn<AppRuntimeGuard::Risk>("risk");
    QTest::addColumn<QStringList>("buttons");
    QTest::newRow("disk image") << AppRuntimeGuard::Risk::diskImage
                                << QStringList{RootGateView::openApplicationsText, RootGateView::dismissText};
    QTest::newRow("translocated") << AppRuntimeGuard::Risk::translocated << QStringList{RootGateView::dismissText};
}

void tst_RootGateView::installLocationAlert()
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
    for (const QPushButton* button : alert->buttons()) {
        texts.append(button->text());
    }
    texts.sort();
    buttons.sort();
    QCOMPARE(texts, buttons);

    // The alert does not hold the launch up.
    QTRY_VERIFY(gate->launchDutiesRequested());
    QTRY_COMPARE(gate->screen(), Screen::agreement);

    QPushButton* press = alert->buttons().first();
    for (QPushButton* button : alert->buttons()) {
        if (button->text() == buttons.first()) {
            press = button;
        }
    }
    press->click();
    QTRY_VERIFY(!gate->unsafeRuntimeMessage().has_value());
    const QList<QUrl> expectedOpened = press->text() == RootGateView::openApplicationsText
                                           ? QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/Applications"))}
                                           : QList<QUrl>{};
    QCOMPARE(m_bed->workspace.opened, expectedOpened);
    QTRY_VERIFY(!gate->runtimeAlert());
}

BRISKO_TEST(tst_RootGateView)
#include "tst_RootGateView.moc"
