#pragma once

#include "NavItem.h"

#include <QAbstractButton>

// One painted sidebar entry: icon and title, a rounded highlight when it is
// the current section. Checkable; the sidebar keeps exactly one checked.
class SidebarItemButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit SidebarItemButton(NavItem item, QWidget* parent = nullptr);

    const NavItem& item() const { return m_item; }
    QSize sizeHint() const override;
    // The dashed outline of keyboard focus: only when the keyboard brought
    // focus here, never on the current item. The focus a window hands its
    // first control when it opens does not count, or that item would look
    // current beside the one the user clicked.
    bool showsFocusRing() const;

    static constexpr int rowHeight = 34;
    static constexpr int iconSize = 18;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    NavItem m_item;
    bool m_hovered = false;
    bool m_focusFromKeyboard = false;
};
