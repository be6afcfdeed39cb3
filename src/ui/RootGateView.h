#pragma once

#include "ConfirmationSheet.h"
#include "WindowServices.h"
#include "app/LaunchDuties.h"
#include "model/AppRuntimeGuard.h"
#include "server/RegionGateService.h"

#include <QMap>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QStackedLayout;

// The window's root: decides what may be shown. While the region is checked
// a loading screen, on a blocked region only the blocking screen, then the
// licence agreement and the introduction until each is done, and then the
// main content. The choice is made again whenever the region status or the
// settings change.
//
// The gate task runs once, when the view is first shown: it warns (without
// stopping anything) when the program runs from a disk image or a
// translocated copy, evaluates the region, and after an allowed verdict runs
// the application state's launch duties exactly once. After a blocked
// verdict nothing more happens.
//
// The main content comes from a factory, called once, the first time the
// content is to be shown; the view owns what it returns.
class RootGateView : public QWidget
{
    Q_OBJECT
public:
    enum class Screen { loading, regionBlocked, agreement, introduction, content };
    Q_ENUM(Screen)

    using ContentFactory = std::function<QWidget*()>;

    // services.appState and services.regionGate are required.
    RootGateView(const WindowServices& services, ContentFactory contentFactory, LaunchDuties launchDuties,
                 QWidget* parent = nullptr);
    ~RootGateView() override;

    // First match wins: checking → loading, blocked → regionBlocked, the
    // agreement not accepted → agreement, the introduction not finished →
    // introduction, else content.
    static Screen chooseScreen(RegionGateService::Status status, bool eulaAccepted, bool onboardingCompleted);

    // Where the install-location check looks; the running program's by default.
    void setRuntimeRiskSource(std::function<AppRuntimeGuard::Risk()> source);
    // Runs the gate task unless it ran already; showing the view calls it.
    void runGateTask();

    Screen screen() const { return m_screen; }
    QWidget* currentScreenWidget() const;
    const std::optional<QString>& unsafeRuntimeMessage() const { return m_unsafeRuntimeMessage; }
    // The install-location alert while it is open.
    ConfirmationSheet* runtimeAlert() const { return m_runtimeAlert; }
    bool launchDutiesRequested() const { return m_launchRequested; }

    static inline const QString runtimeAlertTitle = QStringLiteral("Перенесите приложение в «Программы»");
    static inline const QString openApplicationsText = QStringLiteral("Открыть «Программы»");
    static inline const QString dismissText = QStringLiteral("Понятно");

Q_SIGNALS:
    void screenChanged(RootGateView::Screen screen);
    // "Выйти" on the blocking screen or under the agreement.
    void quitRequested();
    // The launch duties were handed to the application state.
    void launchDutiesStarted();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void updateScreen();
    QWidget* widgetFor(Screen screen);
    void showRuntimeAlert(AppRuntimeGuard::Risk risk);
    void regionEvaluated();

    WindowServices m_services;
    ContentFactory m_contentFactory;
    LaunchDuties m_launchDuties;
    std::function<AppRuntimeGuard::Risk()> m_runtimeRisk;
    QStackedLayout* m_stack;
    QMap<Screen, QPointer<QWidget>> m_screens;
    Screen m_screen = Screen::loading;
    bool m_gateTaskStarted = false;
    bool m_launchRequested = false;
    std::optional<QString> m_unsafeRuntimeMessage;
    QPointer<ConfirmationSheet> m_runtimeAlert;
};
