#include "HealthGauge.h"

#include "Theme.h"

#include <QPainter>

#include <algorithm>

namespace {
constexpr int side = 148;
constexpr qreal ringWidth = 12;
// The ring opens at the bottom: 270 degrees starting at the lower left.
constexpr int startAngle = 225 * 16;
constexpr int fullSpan = -270 * 16;
} // namespace

HealthGauge::HealthGauge(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(side, side);
    setAccessibleName(QStringLiteral("Оценка здоровья"));
}

void HealthGauge::setScore(int score)
{
    score = std::clamp(score, 0, 100);
    if (score == m_score) {
        return;
    }
    m_score = score;
    setAccessibleDescription(QString::number(m_score) + QStringLiteral("% · ") + label(m_score));
    update();
}

HealthGauge::Band HealthGauge::band(int score)
{
    if (score >= 85) {
        return Band::excellent;
    }
    if (score >= 70) {
        return Band::good;
    }
    if (score >= 50) {
        return Band::fair;
    }
    return Band::attention;
}

QString HealthGauge::label(int score)
{
    switch (band(score)) {
    case Band::excellent:
        return QStringLiteral("Отлично");
    case Band::good:
        return QStringLiteral("Хорошо");
    case Band::fair:
        return QStringLiteral("Средне");
    case Band::attention:
        break;
    }
    return QStringLiteral("Требует внимания");
}

QColor HealthGauge::colour(int score, const Theme& theme)
{
    switch (band(score)) {
    case Band::excellent:
    case Band::good:
        return theme.accent();
    case Band::fair:
        return theme.warning();
    case Band::attention:
        break;
    }
    return theme.danger();
}

QSize HealthGauge::sizeHint() const
{
    return {side, side};
}

void HealthGauge::paintEvent(QPaintEvent*)
{
    const Theme theme = Theme::of(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int extent = std::min(width(), height());
    const QRectF ring = QRectF((width() - extent) / 2.0, (height() - extent) / 2.0, extent, extent)
                            .adjusted(ringWidth / 2, ringWidth / 2, -ringWidth / 2, -ringWidth / 2);

    QPen track(theme.trackBackground(), ringWidth, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(track);
    painter.drawArc(ring, startAngle, fullSpan);
    if (m_score > 0) {
        QPen value(colour(m_score, theme), ringWidth, Qt::SolidLine, Qt::RoundCap);
        painter.setPen(value);
        painter.drawArc(ring, startAngle, fullSpan * m_score / 100);
    }

    QFont number = theme.largeTitleFont();
    number.setPointSizeF(number.pointSizeF() * 1.15);
    painter.setFont(number);
    painter.setPen(theme.text());
    const QRectF numberBox(ring.left(), ring.center().y() - ring.height() * 0.28, ring.width(), ring.height() * 0.4);
    painter.drawText(numberBox, Qt::AlignCenter, QString::number(m_score) + QStringLiteral("%"));
    painter.setFont(theme.captionFont());
    painter.setPen(colour(m_score, theme));
    const QRectF labelBox(ring.left(), ring.center().y() + ring.height() * 0.12, ring.width(), ring.height() * 0.2);
    painter.drawText(labelBox, Qt::AlignCenter, label(m_score));
}
