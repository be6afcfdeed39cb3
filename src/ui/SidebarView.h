#pragma once

#include "NavItem.h"

#include <QWidget>

class QButtonGroup;
class SidebarItemButton;

// The window's left column, 220 px wide: a painted header with the maker's
// mark, the product and maker names, the four section entries, and the
// version in the footer. It only reports clicks; the owner decides which
// section is current and tells it back through setCurrentItem.
class SidebarView : public QWidget
{
    Q_OBJECT
public:
    explicit SidebarView(QWidget* parent = nullptr);

    // The entries in order: overview, results, map, cooling, settings.
    static NavItemList defaultItems();

    const NavItemList& items() const { return m_items; }
    SidebarItemButton* button(int id) const;
    void setCurrentItem(int id);
    int currentItem() const;
    // The text of the footer, "Версия " and the bundle's short version.
    QString versionText() const { return m_versionText; }

    static constexpr int headerHeight = 76;
    static constexpr int footerHeight = 40;

Q_SIGNALS:
    // The user clicked (or activated by keyboard) the entry with this id.
    void itemClicked(int id);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    NavItemList m_items;
    QList<SidebarItemButton*> m_buttons;
    QButtonGroup* m_group = nullptr;
    QString m_versionText;
};
