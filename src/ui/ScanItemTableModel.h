#pragma once

#include "scan/HomeLayout.h"
#include "scan/ScanItem.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QPointer>

class AppState;

// The scan results as a table: one row per scoped scan item of the
// application state, in its order (largest first).
//
// The selection lives in the application state; a row is tied to its item by
// id, never by position. Checking the box of a row toggles that item through
// AppState::toggleSelection. When the state's list changes only in selection
// the rows stay and just repaint; when rows vanish (moved, deleted) they are
// removed one by one; any other change resets the model.
class ScanItemTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { nameColumn, sizeColumn, detailColumn, folderColumn, actionsColumn, columnCount_ };
    enum Role {
        itemIdRole = Qt::UserRole + 1,
        // qint64 bytes, for sorting.
        sizeRole,
        // int value of ScanCategory.
        categoryRole,
        // The display name, for the search.
        nameRole,
        // Whether the cleanup may delete the row without asking.
        cleanableRole,
    };

    explicit ScanItemTableModel(AppState* state, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    const ScanItemList& items() const { return m_items; }
    // The row's item, or none for an invalid row.
    std::optional<ScanItem> itemAt(int row) const;
    std::optional<ScanItem> itemWithId(const QUuid& id) const;
    int rowOf(const QUuid& id) const;

    // The text of the "Детали" column: "Можно очистить" first for cleanable
    // cache rows, then the item's own detail.
    static QString detailText(const ScanItem& item, bool cleanable);
    // The parent folder, the home folder written as "~".
    QString folderText(const ScanItem& item) const;

private:
    void reload();
    bool tryRemoveVanishedRows(const ScanItemList& next);

    QPointer<AppState> m_state;
    ScanItemList m_items;
    QList<bool> m_cleanable;
    QString m_home;
    HomeLayout m_layout;
    QIcon m_folderIcon;
    QIcon m_fileIcon;
};
