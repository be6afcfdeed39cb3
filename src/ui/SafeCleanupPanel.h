#pragma once

#include "PanelCard.h"
#include "WindowServices.h"
#include "fileops/SafeCleanupCandidate.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

// "Безопасная очистка кэшей" in the overview: finds the safe caches of
// well-known applications and deletes the ones left ticked, after a
// confirmation (the deletion is permanent). Rows are rebuilt from the
// application state's candidate list; every button is disabled while it is busy.
class SafeCleanupPanel : public PanelCard
{
    Q_OBJECT

public:
    explicit SafeCleanupPanel(const WindowServices& services, QWidget* parent = nullptr);

private:
    QWidget* makeRow(const SafeCleanupCandidate& candidate);
    void updateCandidates();
    void updateSelection();
    void updateBusy();
    void cleanSelected();

    WindowServices m_services;
    QPushButton* m_find = nullptr;
    QWidget* m_list = nullptr;
    QVBoxLayout* m_rows = nullptr;
    QLabel* m_selected = nullptr;
    QPushButton* m_clean = nullptr;
    QPushButton* m_refresh = nullptr;
};
