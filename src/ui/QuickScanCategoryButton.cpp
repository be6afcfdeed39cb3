#include "QuickScanCategoryButton.h"

#include "CardFrame.h"
#include "IconSet.h"
#include "Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

namespace {
constexpr int tileSize = 30;
constexpr int glyphSize = 18;

// Lays text out in width; lines beyond maxLines are dropped and the last
// kept line is elided, so the card never overflows.
void drawWrapped(QPainter& painter, const QRect& rect, const QString& text, int maxLines)
{
    const QFontMetrics metrics = painter.fontMetrics();
    QTextLayout layout(text, painter.font());
    layout.beginLayout();
    QList<std::pair<int, int>> lines;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(rect.width());
        lines.append({line.textStart(), line.textLength()});
    }
    layout.endLayout();
    int y = rect.top();
    for (qsizetype i = 0; i < lines.size() && i < maxLines; ++i) {
        QString piece = text.mid(lines[i].first, lines[i].second).trimmed();
        if (i == maxLines - 1 && lines.size() > maxLines)
            piece = metrics.elidedText(text.mid(lines[i].first), Qt::ElideRight, rect.width());
        painter.drawText(QRect(rect.left(), y, rect.width(), metrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                         piece);
        y += metrics.lineSpacing();
    }
}
} // namespace

QuickScanCategoryButton::QuickScanCategoryButton(ScanCategory category, QWidget* parent)
    : QAbstractButton(parent)
    , m_category(category)
{
    setObjectName(QStringLiteral("quickScan_") + ScanCategories::rawValue(category));
    setFixedWidth(buttonWidth);
    fitHeightToFonts();
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    m_spinner.setInterval(50);
    connect(&m_spinner, &QTimer::timeout, this, [this] {
        m_spinnerAngle = (m_spinnerAngle + 30) % 360;
        update();
    });
}

void QuickScanCategoryButton::setTexts(const QString& title, const QString& description)
{
    m_title = title;
    m_description = description;
    setText(title);
    setAccessibleName(title);
    setAccessibleDescription(description);
    setToolTip(description);
    update();
}

void QuickScanCategoryButton::setScanning(bool scanning)
{
    if (scanning == m_scanning)
        return;
    m_scanning = scanning;
    if (scanning)
        m_spinner.start();
    else
        m_spinner.stop();
    update();
}

QFont QuickScanCategoryButton::titleFont() const
{
    QFont font = Theme::of(this).bodyFont();
    font.setWeight(QFont::DemiBold);
    return font;
}

QRect QuickScanCategoryButton::titleRect() const
{
    const QFontMetrics metrics(titleFont());
    return {Theme::spacing, Theme::spacing + tileSize + 8, width() - 2 * Theme::spacing, metrics.height()};
}

QRect QuickScanCategoryButton::descriptionRect() const
{
    const QFontMetrics metrics(Theme::of(this).captionFont());
    const QRect title = titleRect();
    return {Theme::spacing, title.bottom() + 4, width() - 2 * Theme::spacing,
            metrics.lineSpacing() * (descriptionLines - 1) + metrics.height()};
}

void QuickScanCategoryButton::fitHeightToFonts()
{
    setFixedHeight(descriptionRect().bottom() + 1 + Theme::spacing);
}

void QuickScanCategoryButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange)
        fitHeightToFonts();
    QAbstractButton::changeEvent(event);
}

void QuickScanCategoryButton::enterEvent(QEnterEvent* event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void QuickScanCategoryButton::leaveEvent(QEvent* event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void QuickScanCategoryButton::paintEvent(QPaintEvent*)
{
    const Theme theme = Theme::of(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool enabled = isEnabled();
    QColor tint;
    if (m_scanning)
        tint = theme.accent();
    else if (enabled && (m_hovered || isDown()))
        tint = Theme::withAlpha(theme.accent(), 0.6);
    CardFrame::paintCard(painter, rect(), theme, tint, hasFocus() || m_scanning);

    const QColor accent = enabled || m_scanning ? theme.accent() : theme.secondaryText();
    const QRectF tile(Theme::spacing, Theme::spacing, tileSize, tileSize);
    QPainterPath tilePath;
    tilePath.addRoundedRect(tile, 8, 8);
    painter.fillPath(tilePath, Theme::withAlpha(accent, theme.dark() ? 0.25 : 0.12));
    const QPixmap icon = IconSet::pixmap(ScanCategories::iconName(m_category), accent, glyphSize, devicePixelRatioF());
    if (!icon.isNull())
        painter.drawPixmap(tile.topLeft() + QPointF((tileSize - glyphSize) / 2.0, (tileSize - glyphSize) / 2.0), icon);

    if (m_scanning) {
        painter.setFont(theme.captionFont());
        painter.setPen(theme.accent());
        const QString caption = QStringLiteral("Сканирование…");
        const int captionWidth = painter.fontMetrics().horizontalAdvance(caption);
        const QRectF arc(width() - Theme::spacing - 14, tile.center().y() - 7, 14, 14);
        painter.drawText(QRectF(arc.left() - Theme::smallSpacing - captionWidth, tile.top(), captionWidth, tileSize),
                         Qt::AlignVCenter | Qt::AlignRight, caption);
        painter.setPen(QPen(theme.accent(), 2, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(arc, -m_spinnerAngle * 16, 270 * 16);
    }

    painter.setFont(titleFont());
    painter.setPen(enabled || m_scanning ? theme.text() : theme.secondaryText());
    const QRect title = titleRect();
    painter.drawText(title, Qt::AlignLeft | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(m_title, Qt::ElideRight, title.width()));
    painter.setFont(theme.captionFont());
    painter.setPen(theme.secondaryText());
    drawWrapped(painter, descriptionRect(), m_description, descriptionLines);
}
