#include "ProminentButton.h"

#include "Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionFocusRect>

void ProminentButton::setDestructive(bool destructive)
{
    m_destructive = destructive;
    update();
}

ProminentButton::ProminentButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent)
{
    setCursor(Qt::PointingHandCursor);
    QFont bold = font();
    bold.setWeight(QFont::DemiBold);
    setFont(bold);
}

QSize ProminentButton::sizeHint() const
{
    // As tall as the ordinary buttons beside it.
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 2 * Theme::padding + 8,
            qMax(QPushButton::sizeHint().height(), metrics.height() + 12)};
}

QSize ProminentButton::minimumSizeHint() const
{
    return sizeHint();
}

void ProminentButton::paintEvent(QPaintEvent*)
{
    const Theme theme = Theme::of(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    QColor fill = m_destructive ? theme.dangerFill() : theme.accentFill();
    if (!isEnabled()) {
        fill = theme.palette().color(QPalette::Button);
    } else if (isDown()) {
        fill = fill.darker(125);
    } else if (underMouse()) {
        fill = fill.lighter(110);
    }
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(frame, Theme::controlRadius, Theme::controlRadius);
    painter.fillPath(path, fill);
    if (!isEnabled()) {
        painter.setPen(QPen(theme.cardBorder(), 1));
        painter.drawPath(path);
    }
    if (hasFocus()) {
        // A ring outside the fill, so it reads against the window, not the button.
        painter.setPen(QPen(theme.focusRing(), 2));
        painter.drawRoundedRect(frame.adjusted(1, 1, -1, -1), Theme::controlRadius - 1, Theme::controlRadius - 1);
        painter.setPen(QPen(theme.accentText(), 1));
        painter.drawRoundedRect(frame.adjusted(2.5, 2.5, -2.5, -2.5), Theme::controlRadius - 2, Theme::controlRadius - 2);
    }

    painter.setPen(isEnabled() ? theme.accentText() : theme.disabledText());
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
}
