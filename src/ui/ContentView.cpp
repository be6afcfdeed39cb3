#include "ContentView.h"

#include "OverviewSection.h"
#include "PageTemplate.h"
#include "ScanResultsView.h"
#include "SectionFactory.h"
#include "SidebarView.h"
#include "StatusBanner.h"
#include "UsageMapView.h"
#include "Theme.h"
#include "app/AppState.h"

#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QStackedWidget>
#include <QVBoxLayout>

ContentView::ContentView(const WindowServices& services, QWidget* parent)
    : QWidget(parent)
    , m_services(services)
{
    setObjectName(QStringLiteral("contentView"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_sidebar = new SidebarView(this);
    layout->addWidget(m_sidebar);

    auto* detail = new QWidget(this);
    detail->setObjectName(QStringLiteral("detailArea"));
    auto* detailLayout = new QVBoxLayout(detail);
    detailLayout->setContentsMargins(0, Theme::spacing, 0, 0);
    detailLayout->setSpacing(Theme::smallSpacing);
    m_banner = new StatusBanner(detail);
    auto* bannerRow = new QHBoxLayout;
    bannerRow->setContentsMargins(PageTemplate::sideMargin, 0, PageTemplate::sideMargin, 0);
    bannerRow->addWidget(m_banner);
    detailLayout->addLayout(bannerRow);

    m_stack = new QStackedWidget(detail);
    m_overview = new OverviewSection(m_services, m_stack);
    m_results = new ScanResultsView(m_services, m_stack);
    m_stack->addWidget(m_overview);
    m_stack->addWidget(m_results);
    m_stack->addWidget(SectionFactory::coolingSection(m_services, m_stack));
    m_stack->addWidget(SectionFactory::settingsSection(m_services, m_stack));
    m_stack->addWidget(new UsageMapView(m_services, m_stack));
    detailLayout->addWidget(m_stack, 1);
    layout->addWidget(detail, 1);

    connect(m_sidebar, &SidebarView::itemClicked, this, &ContentView::setSelectedTab);
    connect(m_overview, &OverviewSection::quickScanRequested, this, &ContentView::startQuickScan);
    connect(m_overview, &OverviewSection::showResultsRequested, this,
            [this] { setSelectedTab(resultsSection); });

    if (AppState* state = m_services.appState) {
        connect(m_banner, &StatusBanner::stopRequested, state, &AppState::requestStop);
        connect(state, &AppState::stopRequestedChanged, this, &ContentView::updateStatusBanner);
        connect(state, &AppState::statusMessageChanged, this, &ContentView::updateStatusBanner);
        connect(state, &AppState::scanProgressChanged, this, &ContentView::updateStatusBanner);
        connect(state, &AppState::healthScanProgressChanged, this, &ContentView::updateStatusBanner);
        connect(state, &AppState::cleanArchiveProgressChanged, this, &ContentView::updateStatusBanner);
    }
    updateStatusBanner();
}

QWidget* ContentView::section(int index) const
{
    return m_stack->widget(index);
}

void ContentView::setSelectedTab(int tab)
{
    if (tab < overviewSection || tab > mapSection)
        return;
    m_sidebar->setCurrentItem(tab);
    if (tab == m_selectedTab)
        return;
    m_selectedTab = tab;
    m_stack->setCurrentIndex(tab);
    Q_EMIT selectedTabChanged(tab);
}

void ContentView::startQuickScan(ScanCategory category)
{
    AppState* state = m_services.appState;
    // A refused scan must not count as a finished one: the old results would
    // otherwise switch the window to them.
    if (!state || state->isBusy())
        return;
    m_selectedCategories = {category};
    m_overview->setScanningCategory(category);
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher] {
        watcher->deleteLater();
        m_overview->setScanningCategory(std::nullopt);
        if (!watcher->future().isCanceled() && m_services.appState && !m_services.appState->scanItems().isEmpty())
            setSelectedTab(resultsSection);
    });
    watcher->setFuture(state->runScan(m_selectedCategories));
}

void ContentView::updateStatusBanner()
{
    const AppState* state = m_services.appState;
    if (!state) {
        m_banner->hide();
        return;
    }
    // The running operation's own progress record, in the order isBusy tests them.
    bool running = false;
    QString task;
    double progress = 0.0;
    if (state->scanProgress().isRunning) {
        running = true;
        task = state->scanProgress().currentTask;
        progress = state->scanProgress().progress;
    } else if (state->cleanArchiveProgress().isRunning) {
        running = true;
        task = state->cleanArchiveProgress().currentTask;
        progress = state->cleanArchiveProgress().progress;
    } else if (state->healthScanProgress().isRunning) {
        running = true;
        task = state->healthScanProgress().currentTask;
        progress = state->healthScanProgress().progress;
    }
    const std::optional<QString>& message = state->statusMessage();
    m_banner->setLoading(running);
    m_banner->setStopping(state->stopRequested());
    m_banner->setProgress(progress);
    m_banner->setMessage(running && !task.isEmpty() ? task : message.value_or(QString()));
    m_banner->setVisible(running || (message && !message->isEmpty()));
}
