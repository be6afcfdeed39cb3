#include "CardFrame.h"

#include "Theme.h"

#include <QPainter>
#include <QPainterPath>

CardFrame::CardFrame(QWidget* parent)
    : QWidget(parent)
{
}

void CardFrame::setTint(const QColor& tint)
{
    m_tint = tint;
    update();
}

void CardFrame::paintCard(QPainter& painter, const QRectF& rect, const Theme& theme, const QColor& tint,
                          bool highlighted)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // Half-pixel inset keeps the 1 px border crisp.
    const QRectF r = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(r, Theme::cardRadius, Theme::cardRadius);
    painter.fillPath(path, tint.isValid() ? theme.tintedCard(tint) : theme.cardBackground());
    QColor border = tint.isValid() ? Theme::withAlpha(tint, 0.45) : theme.cardBorder();
    if (highlighted)
        border = theme.accent();
    painter.setPen(QPen(border, highlighted ? 1.5 : 1.0));
    painter.drawPath(path);
    painter.restore();
}

void CardFrame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintCard(painter, rect(), Theme::of(this), m_tint);
}
