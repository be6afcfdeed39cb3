#include "SidebarItemButton.h"

#include "IconSet.h"
#include "Theme.h"

#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>

SidebarItemButton::SidebarItemButton(NavItem item, QWidget* parent)
    : QAbstractButton(parent)
    , m_item(std::move(item))
{
    setCheckable(true);
    setAutoExclusive(true);
    setText(m_item.title);
    setAccessibleName(m_item.title);
    // A click must not leave a focus ring on the item it left: only the
    // keyboard brings focus here, so one item at a time looks current.
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setFixedHeight(rowHeight);
}

QSize SidebarItemButton::sizeHint() const
{
    const Theme theme = Theme::of(this);
    const int textWidth = QFontMetrics(theme.bodyFont()).horizontalAdvance(m_item.title);
    return {Theme::spacing + iconSize + Theme::spacing + textWidth + Theme::spacing, rowHeight};
}

void SidebarItemButton::enterEvent(QEnterEvent* event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void SidebarItemButton::leaveEvent(QEvent* event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void SidebarItemButton::paintEvent(QPaintEvent*)
{
    const Theme theme = Theme::of(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (isChecked() || m_hovered || isDown()) {
        QPainterPath path;
        path.addRoundedRect(r, Theme::controlRadius, Theme::controlRadius);
        painter.fillPath(path, isChecked() ? theme.selectionBackground()
                                           : Theme::withAlpha(theme.text(), theme.dark() ? 0.08 : 0.05));
    }
    if (showsFocusRing()) {
        // An outline only, never the current item's fill.
        painter.setPen(QPen(theme.focusRing(), 1.5, Qt::DashLine));
        painter.drawRoundedRect(r.adjusted(1, 1, -1, -1), Theme::controlRadius, Theme::controlRadius);
    }
    const QColor tint = isChecked() ? theme.accent() : theme.secondaryText();
    const QPixmap icon = IconSet::pixmap(m_item.icon, tint, iconSize, devicePixelRatioF());
    const int iconY = (height() - iconSize) / 2;
    if (!icon.isNull())
        painter.drawPixmap(Theme::spacing, iconY, icon);
    QFont font = theme.bodyFont();
    if (isChecked())
        font.setWeight(QFont::DemiBold);
    painter.setFont(font);
    painter.setPen(isEnabled() ? theme.text() : theme.secondaryText());
    const QRect textRect(Theme::spacing * 2 + iconSize, 0, width() - Theme::spacing * 3 - iconSize, height());
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                     painter.fontMetrics().elidedText(m_item.title, Qt::ElideRight, textRect.width()));
}

bool SidebarItemButton::showsFocusRing() const
{
    return hasFocus() && m_focusFromKeyboard && !isChecked();
}

void SidebarItemButton::focusInEvent(QFocusEvent* event)
{
    const Qt::FocusReason reason = event->reason();
    m_focusFromKeyboard =
        reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
    QAbstractButton::focusInEvent(event);
}
