#include "StatChip.h"

#include "IconSet.h"
#include "Theme.h"

#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int iconSize = 16;
}

StatChip::StatChip(const QString& symbolName, QWidget* parent)
    : QWidget(parent)
    , m_symbol(symbolName)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StatChip::setText(const QString& text)
{
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

QSize StatChip::sizeHint() const
{
    const QFontMetrics metrics(Theme::of(this).bodyFont());
    return {Theme::spacing + iconSize + Theme::smallSpacing + metrics.horizontalAdvance(m_text) + Theme::spacing,
            chipHeight};
}

void StatChip::paintEvent(QPaintEvent*)
{
    const Theme theme = Theme::of(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    path.addRoundedRect(r, r.height() / 2, r.height() / 2);
    painter.fillPath(path, theme.cardBackground());
    painter.setPen(theme.cardBorder());
    painter.drawPath(path);
    const QPixmap icon = IconSet::pixmap(m_symbol, theme.accent(), iconSize, devicePixelRatioF());
    if (!icon.isNull())
        painter.drawPixmap(Theme::spacing, (height() - iconSize) / 2, icon);
    painter.setFont(theme.bodyFont());
    painter.setPen(theme.text());
    painter.drawText(QRect(Theme::spacing + iconSize + Theme::smallSpacing, 0,
                           width() - Theme::spacing * 2 - iconSize - Theme::smallSpacing, height()),
                     Qt::AlignVCenter | Qt::AlignLeft, m_text);
}
