#pragma once

#include "WindowServices.h"
#include "scan/ScanCategory.h"

#include <QWidget>

class OverviewSection;
class QStackedWidget;
class ScanResultsView;
class SidebarView;
class StatusBanner;

// The main window's root: the sidebar on the left, and on the right the
// status banner above one of the sections (0 overview, 1 results,
// 2 cooling, 3 settings, 4 the size map).
//
// The section changes only by a sidebar click, by a quick scan that found
// something, and by the overview's "Результаты →" link; selectedTabChanged
// is emitted after each change. The services are borrowed, never owned.
class ContentView : public QWidget
{
    Q_OBJECT
public:
    enum Section { overviewSection = 0, resultsSection = 1, coolingSection = 2, settingsSection = 3, mapSection = 4 };

    explicit ContentView(const WindowServices& services, QWidget* parent = nullptr);

    int selectedTab() const { return m_selectedTab; }
    // The categories picked by the last quick scan.
    const ScanCategorySet& selectedCategories() const { return m_selectedCategories; }

    SidebarView* sidebar() const { return m_sidebar; }
    StatusBanner* statusBanner() const { return m_banner; }
    OverviewSection* overview() const { return m_overview; }
    ScanResultsView* results() const { return m_results; }
    QWidget* section(int index) const;

Q_SIGNALS:
    void selectedTabChanged(int tab);

private:
    void setSelectedTab(int tab);
    void startQuickScan(ScanCategory category);
    void updateStatusBanner();

    WindowServices m_services;
    SidebarView* m_sidebar = nullptr;
    StatusBanner* m_banner = nullptr;
    QStackedWidget* m_stack = nullptr;
    OverviewSection* m_overview = nullptr;
    ScanResultsView* m_results = nullptr;
    int m_selectedTab = overviewSection;
    ScanCategorySet m_selectedCategories;
};
