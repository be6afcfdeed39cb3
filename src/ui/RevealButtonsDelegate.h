#pragma once

#include "scan/HomeLayout.h"

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>
#include <QUuid>

// The "Действия" cell of a results row: two icon buttons, show the item and
// show its folder, painted for every row and clicked through editorEvent,
// so a hundred thousand rows cost no widgets. The buttons act on the row's
// item id (ScanItemTableModel::itemIdRole), never on its position; their
// tooltips name them and the system's file manager.
class RevealButtonsDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    enum class Button { none, revealItem, revealFolder };

    RevealButtonsDelegate(const LayoutTexts& texts, QObject* parent = nullptr);

    // Where a button sits in a cell.
    static QRect buttonRect(const QRect& cell, Button button);
    static Button buttonAt(const QRect& cell, const QPoint& position);
    QString text(Button button) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    static constexpr int buttonWidth = 26;
    static constexpr int buttonHeight = 24;
    static constexpr int iconSize = 16;

Q_SIGNALS:
    // Emitted on a left-button release over a button.
    void revealItemClicked(const QUuid& itemId);
    void revealFolderClicked(const QUuid& itemId);

private:
    LayoutTexts m_texts;
    QPersistentModelIndex m_hovered;
    Button m_hoveredButton = Button::none;
    QPersistentModelIndex m_pressed;
    Button m_pressedButton = Button::none;
};
