#include "BriskoStyle.h"

#include "Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>
#include <QStyleOption>

BriskoStyle::BriskoStyle()
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{
}

int BriskoStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const
{
    switch (metric) {
    case PM_ButtonMargin:
        return 10;
    case PM_SmallIconSize:
    case PM_ButtonIconSize:
        return 16;
    case PM_LayoutHorizontalSpacing:
    case PM_LayoutVerticalSpacing:
        return 8;
    case PM_ScrollBarExtent:
        return 12;
    case PM_ScrollBarSliderMin:
        return 32;
    default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

int BriskoStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                           QStyleHintReturn* returnData) const
{
    switch (hint) {
    case SH_DialogButtonBox_ButtonsHaveIcons:
        return 0;
    case SH_ItemView_ActivateItemOnSingleClick:
        return 0;
    case SH_ScrollBar_Transient:
        return 0;
    default:
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
}

void BriskoStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                const QWidget* widget) const
{
    if (element == PE_IndicatorCheckBox || element == PE_IndicatorItemViewItemCheck) {
        drawCheckBox(option, painter);
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void BriskoStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                     const QWidget* widget) const
{
    if (control == CC_ScrollBar) {
        drawScrollBar(option, painter, widget);
        return;
    }
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}

QSize BriskoStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                    const QWidget* widget) const
{
    QSize result = QProxyStyle::sizeFromContents(type, option, size, widget);
    if (type == CT_PushButton) {
        const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
        result.rwidth() += 2 * extraButtonPadding;
        if (button && !button->icon.isNull() && !button->text.isEmpty())
            result.rwidth() += iconTextGap;
    }
    return result;
}

void BriskoStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const
{
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    if (element != CE_PushButtonLabel || !button || button->icon.isNull() || button->text.isEmpty()) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    // Icon and text centred together, with a gap Fusion does not leave.
    const bool enabled = button->state & State_Enabled;
    const QPixmap icon = button->icon.pixmap(button->iconSize, painter->device()->devicePixelRatioF(),
                                             enabled ? QIcon::Normal : QIcon::Disabled);
    const int textWidth = button->fontMetrics.horizontalAdvance(button->text);
    const int total = button->iconSize.width() + iconTextGap + textWidth;
    const QRect area = button->rect;
    const int left = area.left() + qMax(0, (area.width() - total) / 2);
    painter->drawPixmap(QPoint(left, area.top() + (area.height() - button->iconSize.height()) / 2), icon);
    const QRect text(left + button->iconSize.width() + iconTextGap, area.top(),
                     qMin(textWidth, area.right() - left - button->iconSize.width() - iconTextGap), area.height());
    proxy()->drawItemText(painter, text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, button->palette,
                          enabled, button->text, QPalette::ButtonText);
}

void BriskoStyle::drawCheckBox(const QStyleOption* option, QPainter* painter) const
{
    const Theme theme(option->palette);
    const bool enabled = option->state & State_Enabled;
    const bool on = option->state & State_On;
    const bool partial = option->state & State_NoChange;
    const int side = qMin(qMin(option->rect.width(), option->rect.height()), 16);
    const QRectF box(option->rect.x() + (option->rect.width() - side) / 2.0 + 0.5,
                     option->rect.y() + (option->rect.height() - side) / 2.0 + 0.5, side - 1, side - 1);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(box, 4, 4);
    if ((on || partial) && enabled) {
        painter->fillPath(path, theme.accent());
    } else {
        painter->fillPath(path, theme.cardBackground());
        painter->setPen(QPen(enabled ? theme.controlBorder() : theme.cardBorder(), 1.2));
        painter->drawPath(path);
    }
    if (option->state & State_HasFocus) {
        painter->setPen(QPen(theme.focusRing(), 1.5));
        painter->drawRoundedRect(box.adjusted(-2, -2, 2, 2), 5, 5);
    }
    const QColor mark = enabled ? theme.markOn(theme.accent()) : theme.disabledText();
    painter->setPen(QPen(mark, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (partial) {
        painter->drawLine(QPointF(box.left() + side * 0.28, box.center().y()),
                          QPointF(box.right() - side * 0.28, box.center().y()));
    } else if (on) {
        QPainterPath tick;
        tick.moveTo(box.left() + side * 0.25, box.top() + side * 0.52);
        tick.lineTo(box.left() + side * 0.43, box.top() + side * 0.70);
        tick.lineTo(box.left() + side * 0.76, box.top() + side * 0.32);
        painter->drawPath(tick);
    }
    painter->restore();
}

void BriskoStyle::drawScrollBar(const QStyleOptionComplex* option, QPainter* painter, const QWidget* widget) const
{
    const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (!bar) {
        QProxyStyle::drawComplexControl(CC_ScrollBar, option, painter, widget);
        return;
    }
    const Theme theme(option->palette);
    const bool horizontal = bar->orientation == Qt::Horizontal;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    // No groove: the handle sits on the page or card behind it, which is
    // what its contrast is measured against.

    // The step arrows keep Fusion's places; drawn as small chevrons.
    for (SubControl part : {SC_ScrollBarSubLine, SC_ScrollBarAddLine}) {
        const QRect area = subControlRect(CC_ScrollBar, bar, part, widget);
        if (area.isEmpty())
            continue;
        QStyleOption arrow(*option);
        arrow.rect = area.adjusted(2, 2, -2, -2);
        arrow.palette.setColor(QPalette::ButtonText, theme.secondaryText());
        arrow.palette.setColor(QPalette::WindowText, theme.secondaryText());
        const PrimitiveElement element = horizontal ? (part == SC_ScrollBarSubLine ? PE_IndicatorArrowLeft
                                                                                   : PE_IndicatorArrowRight)
                                                    : (part == SC_ScrollBarSubLine ? PE_IndicatorArrowUp
                                                                                   : PE_IndicatorArrowDown);
        QProxyStyle::drawPrimitive(element, &arrow, painter, widget);
    }

    const QRect slider = subControlRect(CC_ScrollBar, bar, SC_ScrollBarSlider, widget);
    if (!slider.isEmpty() && bar->maximum > bar->minimum) {
        const QRectF handle = QRectF(slider).adjusted(horizontal ? 1 : 2.5, horizontal ? 2.5 : 1,
                                                      horizontal ? -1 : -2.5, horizontal ? -2.5 : -1);
        QColor fill = theme.controlBorder();
        if (!(bar->state & State_Enabled))
            fill = theme.cardBorder();
        else if (bar->activeSubControls & SC_ScrollBarSlider && bar->state & (State_Sunken | State_MouseOver))
            fill = theme.dark() ? fill.lighter(125) : fill.darker(125);
        const qreal radius = (horizontal ? handle.height() : handle.width()) / 2;
        QPainterPath path;
        path.addRoundedRect(handle, radius, radius);
        painter->fillPath(path, fill);
    }
    painter->restore();
}
