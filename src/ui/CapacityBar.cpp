#include "CapacityBar.h"

#include "Theme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

CapacityBar::CapacityBar(QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(barHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CapacityBar::setFraction(double fraction)
{
    m_fraction = std::clamp(fraction, 0.0, 1.0);
    update();
}

QColor CapacityBar::fillColour(double fraction, const Theme& theme)
{
    if (fraction >= 0.9)
        return theme.danger();
    if (fraction >= 0.75)
        return theme.warning();
    return theme.accent();
}

void CapacityBar::paint(QPainter& painter, const QRectF& rect, double fraction, const Theme& theme)
{
    fraction = std::clamp(fraction, 0.0, 1.0);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal radius = rect.height() / 2;
    QPainterPath track;
    track.addRoundedRect(rect, radius, radius);
    painter.fillPath(track, theme.trackBackground());
    if (fraction > 0) {
        QPainterPath fill;
        fill.addRoundedRect(QRectF(rect.topLeft(), QSizeF(std::max(rect.height(), rect.width() * fraction),
                                                          rect.height())),
                            radius, radius);
        painter.fillPath(fill, fillColour(fraction, theme));
    }
    painter.restore();
}

void CapacityBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paint(painter, rect(), m_fraction, Theme::of(this));
}
