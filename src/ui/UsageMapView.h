#pragma once

#include "WindowServices.h"
#include "base/FilePath.h"
#include "scan/UsageTree.h"

#include <QWidget>

class QHBoxLayout;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class UsageRingChart;

// The "Карта" section: where the space of the home went, as a ring chart
// with a breadcrumb back up, the largest children of the folder in focus in
// a side list, and the results table's actions in a context menu, each
// through the usual confirmation. The map comes from AppState::usageTree;
// the view keeps its focus and selection by path, so they survive the
// refresh that follows an action.
class UsageMapView : public QWidget
{
    Q_OBJECT
public:
    explicit UsageMapView(const WindowServices& services, QWidget* parent = nullptr);

    UsageRingChart* chart() const { return m_chart; }
    QListWidget* childList() const { return m_list; }
    QPushButton* buildButton() const { return m_build; }
    QPushButton* stopButton() const { return m_stop; }
    QLabel* hoverLabel() const { return m_hover; }
    // The breadcrumb's buttons, from the root to the folder in focus.
    QList<QPushButton*> breadcrumb() const;
    const FilePath& focusPath() const { return m_focusPath; }

    // The context menu of an entry, not yet shown; it deletes itself when closed.
    QMenu* menuFor(UsageTree::Index index);

private:
    void takeTree();
    void setFocusEntry(UsageTree::Index index);
    void select(UsageTree::Index index);
    void rebuild();
    void showHover(UsageTree::Index index);
    void updateControls();
    QString describe(UsageTree::Index index) const;
    void confirmAction(UsageTree::Index index, int action);

    WindowServices m_services;
    UsageTreePtr m_tree;
    FilePath m_focusPath;
    FilePath m_selectedPath;
    bool m_mapping = false;
    UsageRingChart* m_chart = nullptr;
    QListWidget* m_list = nullptr;
    QLabel* m_listTitle = nullptr;
    QLabel* m_hover = nullptr;
    QPushButton* m_build = nullptr;
    QPushButton* m_stop = nullptr;
    QWidget* m_crumbs = nullptr;
    QHBoxLayout* m_crumbLayout = nullptr;
};
