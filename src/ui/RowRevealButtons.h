#pragma once

#include "scan/HomeLayout.h"

#include <QUuid>
#include <QWidget>

class QToolButton;

// The two icon buttons of a results row: show the item, show its folder.
// They carry the row's item id, never its position.
class RowRevealButtons : public QWidget
{
    Q_OBJECT
public:
    // The help texts name the system's file manager.
    RowRevealButtons(const QUuid& itemId, const LayoutTexts& texts, QWidget* parent = nullptr);

    QUuid itemId() const { return m_itemId; }
    QToolButton* revealItemButton() const { return m_item; }
    QToolButton* revealFolderButton() const { return m_folder; }

Q_SIGNALS:
    void revealItemClicked(const QUuid& itemId);
    void revealFolderClicked(const QUuid& itemId);

private:
    QUuid m_itemId;
    QToolButton* m_item = nullptr;
    QToolButton* m_folder = nullptr;
};
