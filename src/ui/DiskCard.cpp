#include "DiskCard.h"

#include "CapacityBar.h"
#include "CardFrame.h"
#include "IconSet.h"
#include "Theme.h"
#include "base/ByteCountFormatter.h"

#include <QPainter>
#include <QPainterPath>

DiskCard::DiskCard(const DiskInfo& disk, QWidget* parent)
    : QWidget(parent)
    , m_disk(disk)
{
    setFixedHeight(cardHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(m_disk.name);
    setAccessibleDescription(freeText() + QStringLiteral(", ") + usedText());
}

double DiskCard::usedFraction() const
{
    return m_disk.total > 0 ? double(m_disk.used) / double(m_disk.total) : 0.0;
}

QString DiskCard::freeText() const
{
    return QStringLiteral("Свободно: ") + ByteCountFormatter::format(m_disk.free);
}

QString DiskCard::usedText() const
{
    return QStringLiteral("Занято: ") + ByteCountFormatter::format(m_disk.used) + QStringLiteral(" · ")
           + QString::number(qRound(usedFraction() * 100)) + QStringLiteral("%");
}

void DiskCard::paintEvent(QPaintEvent*)
{
    const Theme theme = Theme::of(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    CardFrame::paintCard(painter, rect(), theme);

    constexpr int tile = 32;
    const QRectF tileRect(Theme::padding, Theme::padding, tile, tile);
    QPainterPath tilePath;
    tilePath.addRoundedRect(tileRect, 8, 8);
    painter.fillPath(tilePath, Theme::withAlpha(theme.accent(), theme.dark() ? 0.25 : 0.12));
    const QPixmap icon = IconSet::pixmap(QStringLiteral("externaldrive.fill"), theme.accent(), 18, devicePixelRatioF());
    if (!icon.isNull())
        painter.drawPixmap(tileRect.topLeft() + QPointF((tile - 18) / 2.0, (tile - 18) / 2.0), icon);

    const int textX = Theme::padding + tile + Theme::spacing;
    const int textWidth = width() - textX - Theme::padding;
    const QFontMetrics nameMetrics(theme.headlineFont());
    const QFontMetrics captionMetrics(theme.captionFont());
    painter.setFont(theme.headlineFont());
    painter.setPen(theme.text());
    painter.drawText(QRect(textX, Theme::padding - 2, textWidth, nameMetrics.height()), Qt::AlignLeft | Qt::AlignTop,
                     nameMetrics.elidedText(m_disk.name, Qt::ElideRight, textWidth));
    painter.setFont(theme.captionFont());
    painter.setPen(theme.secondaryText());
    painter.drawText(QRect(textX, Theme::padding - 2 + nameMetrics.height(), textWidth, captionMetrics.height()),
                     Qt::AlignLeft | Qt::AlignTop, captionMetrics.elidedText(m_disk.path, Qt::ElideMiddle, textWidth));

    const qreal barY = Theme::padding + tile + 10;
    CapacityBar::paint(painter, QRectF(Theme::padding, barY, width() - 2 * Theme::padding, CapacityBar::barHeight),
                       usedFraction(), theme);

    const QRect lineRect(Theme::padding, int(barY) + CapacityBar::barHeight + 6, width() - 2 * Theme::padding,
                         captionMetrics.height());
    painter.setPen(theme.text());
    painter.drawText(lineRect, Qt::AlignLeft | Qt::AlignVCenter, freeText());
    painter.setPen(theme.secondaryText());
    painter.drawText(lineRect, Qt::AlignRight | Qt::AlignVCenter, usedText());
}
