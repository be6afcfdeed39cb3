#pragma once

#include <QUuid>
#include <QWidget>

class QToolButton;

// The two icon buttons of a results row: show the item, show its folder.
// They carry the row's item id, never its position.
class RowRevealButtons : public QWidget
{
    Q_OBJECT
public:
    explicit RowRevealButtons(const QUuid& itemId, QWidget* parent = nullptr);

    QUuid itemId() const { return m_itemId; }
    QToolButton* revealItemButton() const { return m_item; }
    QToolButton* revealFolderButton() const { return m_folder; }

    static inline const QString revealItemText = QStringLiteral("Показать элемент в Finder");
    static inline const QString revealFolderText = QStringLiteral("Показать папку в Finder");

Q_SIGNALS:
    void revealItemClicked(const QUuid& itemId);
    void revealFolderClicked(const QUuid& itemId);

private:
    QUuid m_itemId;
    QToolButton* m_item = nullptr;
    QToolButton* m_folder = nullptr;
};
