#include "EmptyStateView.h"

#include "IconSet.h"
#include "Theme.h"

#include <QPainter>

EmptyStateView::EmptyStateView(const QString& title, const QString& hint, QWidget* parent)
    : QWidget(parent)
    , m_title(title)
    , m_hint(hint)
{
    setObjectName(QStringLiteral("emptyState"));
    setAccessibleName(title);
    setAccessibleDescription(hint);
}

void EmptyStateView::paintEvent(QPaintEvent*)
{
    const Theme theme = Theme::of(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    constexpr int markSize = 64;
    const QFontMetrics titleMetrics(theme.titleFont());
    const QFontMetrics hintMetrics(theme.bodyFont());
    const int blockHeight = markSize + Theme::padding + titleMetrics.height() + Theme::smallSpacing + hintMetrics.height();
    int y = (height() - blockHeight) / 2;
    painter.setOpacity(theme.dark() ? 0.85 : 0.9);
    const QPixmap mark = IconSet::korvaneMark(markSize, devicePixelRatioF());
    if (!mark.isNull())
        painter.drawPixmap((width() - markSize) / 2, y, mark);
    painter.setOpacity(1.0);
    y += markSize + Theme::padding;
    painter.setFont(theme.titleFont());
    painter.setPen(theme.text());
    painter.drawText(QRect(0, y, width(), titleMetrics.height()), Qt::AlignCenter, m_title);
    y += titleMetrics.height() + Theme::smallSpacing;
    painter.setFont(theme.bodyFont());
    painter.setPen(theme.secondaryText());
    painter.drawText(QRect(0, y, width(), hintMetrics.height()), Qt::AlignCenter, m_hint);
}
