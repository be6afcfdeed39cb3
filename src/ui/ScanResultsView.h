#pragma once

#include "Confirmer.h"
#include "WindowServices.h"
#include "scan/HomeLayout.h"
#include "scan/ScanItem.h"

#include <QFuture>
#include <QWidget>

class EmptyStateView;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTableView;
class RevealButtonsDelegate;
class ScanItemFilterModel;
class ScanItemTableModel;

// Section 1, "Результаты": the toolbar (category picker, select all/none,
// search, the actions allowed for the scanned category, undo), the results
// table with checkboxes and painted per-row reveal buttons, its context menu,
// and the empty states (no results; nothing matches the filter). The action
// buttons are offered only while the table shows rows. Moving, cleaning and deleting each ask first through the
// confirmer; only a confirmed answer calls the application state, which
// then acts on the selection it holds at that moment.
class ScanResultsView : public QWidget
{
    Q_OBJECT
public:
    explicit ScanResultsView(const WindowServices& services, QWidget* parent = nullptr);

    ScanItemTableModel* tableModel() const { return m_model; }
    ScanItemFilterModel* filterModel() const { return m_filter; }
    QTableView* table() const { return m_table; }
    QComboBox* categoryPicker() const { return m_category; }
    QLineEdit* searchField() const { return m_search; }
    QPushButton* selectAllButton() const { return m_selectAll; }
    QPushButton* selectNoneButton() const { return m_selectNone; }
    QPushButton* revealFolderButton() const { return m_revealFolder; }
    QPushButton* moveButton() const { return m_move; }
    QPushButton* deleteButton() const { return m_delete; }
    QPushButton* cleanButton() const { return m_clean; }
    QPushButton* undoButton() const { return m_undo; }
    bool showsEmptyState() const;
    // A filter or search that matches none of the results.
    bool showsNoMatches() const;
    RevealButtonsDelegate* revealDelegate() const { return m_reveal; }
    // The items the table shows now (category and search applied), in view order.
    ScanItemList shownItems() const;

    // The three confirmations; each does nothing when there is nothing to act on.
    void requestMove();
    void requestCleanup();
    void requestDelete();

private:
    LayoutTexts layoutTexts() const;
    void confirmThen(const ScanItemList& items, ConfirmationRequest request, QFuture<void> (AppState::*operation)());
    QWidget* buildToolbar();
    QWidget* buildActions();
    void refreshCategoryPicker();
    void followSelectedCategory();
    void refreshActions();
    void refreshShownState();
    void revealItem(const QUuid& id, bool folder);
    void showContextMenu(const QPoint& position);
    void selectForAction(const QUuid& id);

    WindowServices m_services;
    ScanItemTableModel* m_model = nullptr;
    ScanItemFilterModel* m_filter = nullptr;
    QLabel* m_summary = nullptr;
    QComboBox* m_category = nullptr;
    QLineEdit* m_search = nullptr;
    QPushButton* m_selectAll = nullptr;
    QPushButton* m_selectNone = nullptr;
    QWidget* m_actions = nullptr;
    QPushButton* m_revealFolder = nullptr;
    QPushButton* m_move = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_clean = nullptr;
    QPushButton* m_undo = nullptr;
    QStackedWidget* m_stack = nullptr;
    QTableView* m_table = nullptr;
    EmptyStateView* m_empty = nullptr;
    EmptyStateView* m_noMatches = nullptr;
    RevealButtonsDelegate* m_reveal = nullptr;
};
