#pragma once

#include "PanelCard.h"
#include "WindowServices.h"

class HealthGauge;
class QGridLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

// "Состояние Mac" in the overview: before the first quick health scan an
// invitation and the scan button; while it runs its step and progress; then
// the gauge, the three figures, the scan time, the advice lines, the link to
// the results and "Повторить скан", and the machine facts. Buttons are
// disabled while the application state is busy.
class MacHealthDashboardSection : public PanelCard
{
    Q_OBJECT

public:
    explicit MacHealthDashboardSection(const WindowServices& services, QWidget* parent = nullptr);

    HealthGauge* gauge() const { return m_gauge; }

Q_SIGNALS:
    // "Результаты →" was clicked; the window switches to the results.
    void showResultsRequested();

private:
    QWidget* buildFigures();
    void update();
    void updateBusy();
    void startScan();

    WindowServices m_services;
    QWidget* m_intro = nullptr;
    QPushButton* m_scan = nullptr;
    QWidget* m_progressRow = nullptr;
    QLabel* m_progressText = nullptr;
    QProgressBar* m_progress = nullptr;
    QWidget* m_result = nullptr;
    HealthGauge* m_gauge = nullptr;
    QLabel* m_reclaimable = nullptr;
    QLabel* m_diskUsed = nullptr;
    QLabel* m_found = nullptr;
    QLabel* m_scannedAt = nullptr;
    QVBoxLayout* m_tips = nullptr;
    QPushButton* m_results = nullptr;
    QPushButton* m_rescan = nullptr;
    QGridLayout* m_facts = nullptr;
};
