#include "RootGateView.h"

#include "EULAAcceptanceView.h"
#include "FirstLaunchOnboardingView.h"
#include "LaunchLoadingView.h"
#include "RegionBlockedView.h"
#include "app/AppState.h"
#include "platform/Workspace.h"

#include <QFutureWatcher>
#include <QPushButton>
#include <QStackedLayout>
#include <QTimer>

RootGateView::RootGateView(const WindowServices& services, ContentFactory contentFactory, LaunchDuties launchDuties,
                           QWidget* parent)
    : QWidget(parent)
    , m_services(services)
    , m_contentFactory(std::move(contentFactory))
    , m_launchDuties(std::move(launchDuties))
    , m_runtimeRisk(&AppRuntimeGuard::currentRisk)
    , m_stack(new QStackedLayout(this))
{
    Q_ASSERT(m_services.appState && m_services.regionGate);
    m_stack->setContentsMargins(0, 0, 0, 0);
    connect(m_services.regionGate, &RegionGateService::statusChanged, this, &RootGateView::updateScreen);
    connect(m_services.appState, &AppState::settingsChanged, this, &RootGateView::updateScreen);
    m_screen = chooseScreen(m_services.regionGate->status(), m_services.appState->settings().eulaAccepted,
                            m_services.appState->settings().onboardingCompleted);
    m_stack->setCurrentWidget(widgetFor(m_screen));
}

RootGateView::~RootGateView()
{
    // The alert is parented to the window, which may outlive this view briefly.
    delete m_runtimeAlert;
}

RootGateView::Screen RootGateView::chooseScreen(RegionGateService::Status status, bool eulaAccepted,
                                                bool onboardingCompleted)
{
    if (status == RegionGateService::Status::checking) {
        return Screen::loading;
    }
    if (status == RegionGateService::Status::blocked) {
        return Screen::regionBlocked;
    }
    if (!eulaAccepted) {
        return Screen::agreement;
    }
    if (!onboardingCompleted) {
        return Screen::introduction;
    }
    return Screen::content;
}

void RootGateView::setRuntimeRiskSource(std::function<AppRuntimeGuard::Risk()> source)
{
    m_runtimeRisk = std::move(source);
}

QWidget* RootGateView::currentScreenWidget() const
{
    return m_stack->currentWidget();
}

void RootGateView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_gateTaskStarted) {
        // After the window is on screen, so the alert has a window to stand over.
        QTimer::singleShot(0, this, &RootGateView::runGateTask);
    }
}

void RootGateView::runGateTask()
{
    if (m_gateTaskStarted) {
        return;
    }
    m_gateTaskStarted = true;

    const AppRuntimeGuard::Risk risk = m_runtimeRisk ? m_runtimeRisk() : AppRuntimeGuard::Risk::none;
    if (risk != AppRuntimeGuard::Risk::none) {
        showRuntimeAlert(risk);
    }

    // A watcher, not a continuation: it goes away with this view, so an
    // answer that arrives after the window closed reaches nobody.
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher] {
        watcher->deleteLater();
        regionEvaluated();
    });
    watcher->setFuture(m_services.regionGate->evaluate(m_services.appState->settings().regionCheckURL));
}

void RootGateView::regionEvaluated()
{
    if (m_launchRequested || m_services.regionGate->status() != RegionGateService::Status::allowed) {
        return;
    }
    m_launchRequested = true;
    m_services.appState->onLaunch(m_launchDuties);
    Q_EMIT launchDutiesStarted();
}

void RootGateView::updateScreen()
{
    const AppSettings& settings = m_services.appState->settings();
    const Screen next = chooseScreen(m_services.regionGate->status(), settings.eulaAccepted,
                                     settings.onboardingCompleted);
    if (next == m_screen && m_stack->currentWidget()) {
        return;
    }
    m_screen = next;
    m_stack->setCurrentWidget(widgetFor(next));
    Q_EMIT screenChanged(next);
}

QWidget* RootGateView::widgetFor(Screen screen)
{
    if (QWidget* existing = m_screens.value(screen)) {
        return existing;
    }
    QWidget* widget = nullptr;
    switch (screen) {
    case Screen::loading:
        widget = new LaunchLoadingView(QStringLiteral("Brisko Vella"), QStringLiteral("Проверка региона…"), this);
        break;
    case Screen::regionBlocked: {
        auto* blocked = new RegionBlockedView(this);
        connect(blocked, &RegionBlockedView::quitRequested, this, &RootGateView::quitRequested);
        widget = blocked;
        break;
    }
    case Screen::agreement: {
        auto* agreement = new EULAAcceptanceView(m_services.appState, this);
        connect(agreement, &EULAAcceptanceView::quitRequested, this, &RootGateView::quitRequested);
        widget = agreement;
        break;
    }
    case Screen::introduction:
        widget = new FirstLaunchOnboardingView(m_services, this);
        break;
    case Screen::content:
        widget = m_contentFactory ? m_contentFactory() : nullptr;
        if (!widget) {
            widget = new QWidget(this);
        }
        break;
    }
    m_screens.insert(screen, widget);
    m_stack->addWidget(widget);
    return widget;
}

void RootGateView::showRuntimeAlert(AppRuntimeGuard::Risk risk)
{
    m_unsafeRuntimeMessage = AppRuntimeGuard::message(risk);
    ConfirmationRequest request;
    request.title = runtimeAlertTitle;
    request.message = *m_unsafeRuntimeMessage;
    // Only a disk image has somewhere better to go.
    if (risk == AppRuntimeGuard::Risk::diskImage) {
        request.confirmText = openApplicationsText;
    }
    request.cancelText = dismissText;
    request.confirmIsDefault = false;
    auto* box = new ConfirmationSheet(request, window());
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<RootGateView> self(this);
    connect(box, &QDialog::finished, box, [self](int result) {
        if (!self) {
            return;
        }
        if (result == QDialog::Accepted && self->m_services.workspace) {
            self->m_services.workspace->openUrl(QUrl::fromLocalFile(QStringLiteral("/Applications")));
        }
        self->m_unsafeRuntimeMessage.reset();
    });
    m_runtimeAlert = box;
    box->open();
}
