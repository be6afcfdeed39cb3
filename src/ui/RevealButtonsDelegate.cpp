#include "RevealButtonsDelegate.h"

#include "IconSet.h"
#include "ScanItemTableModel.h"
#include "Theme.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

RevealButtonsDelegate::RevealButtonsDelegate(const LayoutTexts& texts, QObject* parent)
    : QStyledItemDelegate(parent)
    , m_texts(texts)
{
}

QRect RevealButtonsDelegate::buttonRect(const QRect& cell, Button button)
{
    if (button == Button::none)
        return {};
    const int index = button == Button::revealItem ? 0 : 1;
    const int x = cell.left() + 4 + index * (buttonWidth + 2);
    const int y = cell.top() + (cell.height() - buttonHeight) / 2;
    return {x, y, buttonWidth, buttonHeight};
}

RevealButtonsDelegate::Button RevealButtonsDelegate::buttonAt(const QRect& cell, const QPoint& position)
{
    for (Button button : {Button::revealItem, Button::revealFolder}) {
        if (buttonRect(cell, button).contains(position))
            return button;
    }
    return Button::none;
}

QString RevealButtonsDelegate::text(Button button) const
{
    switch (button) {
    case Button::revealItem:
        return m_texts.revealItemHelp;
    case Button::revealFolder:
        return m_texts.revealFolderHelp;
    case Button::none:
        break;
    }
    return {};
}

void RevealButtonsDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const
{
    // The row's own background (alternate colour, selection), without text.
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    cell.text.clear();
    cell.icon = QIcon();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : nullptr;
    if (style)
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);

    const Theme theme(option.palette);
    const bool selected = option.state & QStyle::State_Selected;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    for (Button button : {Button::revealItem, Button::revealFolder}) {
        const QRect area = buttonRect(option.rect, button);
        const bool hovered = m_hovered == index && m_hoveredButton == button;
        const bool pressed = m_pressed == index && m_pressedButton == button;
        if (hovered || pressed) {
            QPainterPath path;
            path.addRoundedRect(QRectF(area).adjusted(0.5, 0.5, -0.5, -0.5), Theme::controlRadius - 2,
                                Theme::controlRadius - 2);
            painter->fillPath(path, Theme::withAlpha(selected ? theme.accentText() : theme.text(),
                                                     pressed ? 0.18 : 0.09));
        }
        const QString symbol = button == Button::revealItem ? QStringLiteral("eye") : QStringLiteral("folder");
        const QColor tint = selected ? theme.accentText() : theme.accent();
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QPixmap icon = IconSet::pixmap(symbol, tint, iconSize, ratio);
        const QPoint at(area.left() + (area.width() - iconSize) / 2, area.top() + (area.height() - iconSize) / 2);
        painter->drawPixmap(at, icon);
    }
    painter->restore();
}

QSize RevealButtonsDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    return {8 + 2 * buttonWidth + 2, buttonHeight + 4};
}

bool RevealButtonsDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                        const QModelIndex& index)
{
    auto* view = option.widget ? qobject_cast<const QAbstractItemView*>(option.widget) : nullptr;
    const auto repaint = [view](const QModelIndex& cell) {
        if (view && cell.isValid())
            const_cast<QAbstractItemView*>(view)->viewport()->update(view->visualRect(cell));
    };
    switch (event->type()) {
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const Button over = buttonAt(option.rect, mouse->position().toPoint());
        if (m_hovered != index || m_hoveredButton != over) {
            const QModelIndex previous = m_hovered;
            m_hovered = index;
            m_hoveredButton = over;
            repaint(previous);
            repaint(index);
        }
        return false;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const Button at = buttonAt(option.rect, mouse->position().toPoint());
        if (mouse->button() != Qt::LeftButton || at == Button::none)
            return false;
        m_pressed = index;
        m_pressedButton = at;
        repaint(index);
        return true;
    }
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const Button at = buttonAt(option.rect, mouse->position().toPoint());
        // The view may hand the press to selection handling instead of here;
        // the release over a button is the click either way.
        const bool click = mouse->button() == Qt::LeftButton && at != Button::none
                           && (!m_pressed.isValid() || (m_pressed == index && m_pressedButton == at));
        const QModelIndex pressed = m_pressed;
        m_pressed = QPersistentModelIndex();
        m_pressedButton = Button::none;
        repaint(pressed);
        if (!click)
            return false;
        const QUuid id = index.data(ScanItemTableModel::itemIdRole).toUuid();
        if (at == Button::revealItem)
            Q_EMIT revealItemClicked(id);
        else
            Q_EMIT revealFolderClicked(id);
        return true;
    }
    default:
        return false;
    }
}

bool RevealButtonsDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                      const QModelIndex& index)
{
    if (event->type() == QEvent::ToolTip) {
        const Button over = buttonAt(option.rect, event->pos());
        if (over != Button::none) {
            QToolTip::showText(event->globalPos(), text(over), view, buttonRect(option.rect, over));
            return true;
        }
        QToolTip::hideText();
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}
