#include "StatusBanner.h"

#include "CardFrame.h"
#include "IconSet.h"
#include "Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include <algorithm>

StatusBanner::StatusBanner(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("statusBanner"));
    setFixedHeight(bannerHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_spinner.setInterval(50);
    connect(&m_spinner, &QTimer::timeout, this, [this] {
        m_spinnerAngle = (m_spinnerAngle + 30) % 360;
        update();
    });
    m_stop = new QPushButton(QStringLiteral("Остановить"), this);
    m_stop->setObjectName(QStringLiteral("stopOperation"));
    m_stop->setToolTip(QStringLiteral("Остановить после текущего элемента; сделанное останется"));
    m_stop->setAutoDefault(false);
    m_stop->hide();
    connect(m_stop, &QPushButton::clicked, this, &StatusBanner::stopRequested);
}

void StatusBanner::setStopping(bool stopping)
{
    m_stop->setEnabled(!stopping);
    m_stop->setText(stopping ? QStringLiteral("Останавливаю…") : QStringLiteral("Остановить"));
}

void StatusBanner::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Wide enough for either text, so the button does not jump when it changes.
    const int buttonWidth = QFontMetrics(m_stop->font()).horizontalAdvance(QStringLiteral("Останавливаю…"))
                            + 2 * Theme::padding;
    const int buttonHeight = qMin(m_stop->sizeHint().height(), height() - 8);
    m_stop->setGeometry(width() - Theme::smallSpacing - buttonWidth, (height() - buttonHeight) / 2, buttonWidth,
                        buttonHeight);
}

QSize StatusBanner::sizeHint() const
{
    return {400, bannerHeight};
}

void StatusBanner::setMessage(const QString& message)
{
    if (message == m_message)
        return;
    m_message = message;
    setAccessibleName(message);
    update();
}

void StatusBanner::setLoading(bool loading)
{
    if (loading == m_loading)
        return;
    m_loading = loading;
    if (loading)
        m_spinner.start();
    else
        m_spinner.stop();
    m_stop->setVisible(loading);
    if (!loading)
        setStopping(false);
    update();
}

void StatusBanner::setProgress(double progress)
{
    progress = std::clamp(progress, 0.0, 1.0);
    if (progress == m_progress)
        return;
    m_progress = progress;
    update();
}

void StatusBanner::paintEvent(QPaintEvent*)
{
    const Theme theme = Theme::of(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    CardFrame::paintCard(painter, rect(), theme, m_loading ? theme.accent() : QColor());

    constexpr int iconSize = 18;
    const int iconX = Theme::spacing;
    const int iconY = (height() - iconSize) / 2;
    if (m_loading) {
        // A spinning arc: the operation is alive even when its fraction stalls.
        painter.setPen(QPen(theme.accent(), 2.2, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(QRectF(iconX + 2, iconY + 2, iconSize - 4, iconSize - 4), -m_spinnerAngle * 16, 270 * 16);
    } else {
        const QPixmap icon = IconSet::pixmap(QStringLiteral("info.circle.fill"), theme.accent(), iconSize,
                                             devicePixelRatioF());
        if (!icon.isNull())
            painter.drawPixmap(iconX, iconY, icon);
    }

    int textRight = width() - Theme::spacing;
    if (m_loading) {
        painter.setFont(theme.captionFont());
        const QString percent = QString::number(qRound(m_progress * 100)) + QStringLiteral("\u00a0%");
        const int percentWidth = painter.fontMetrics().horizontalAdvance(QStringLiteral("100\u00a0%"));
        const int right = m_stop->isVisible() ? m_stop->geometry().left() - Theme::spacing : width() - Theme::spacing;
        const QRect percentRect(right - percentWidth, 0, percentWidth, height());
        painter.setPen(theme.secondaryText());
        painter.drawText(percentRect, Qt::AlignVCenter | Qt::AlignRight, percent);
        const QRectF track(percentRect.left() - Theme::smallSpacing - progressWidth, height() / 2.0 - 3,
                           progressWidth, 6);
        QPainterPath trackPath;
        trackPath.addRoundedRect(track, 3, 3);
        painter.fillPath(trackPath, theme.trackBackground());
        if (m_progress > 0) {
            QPainterPath fill;
            fill.addRoundedRect(QRectF(track.topLeft(), QSizeF(std::max(6.0, track.width() * m_progress), 6)), 3, 3);
            painter.fillPath(fill, theme.accent());
        }
        textRight = int(track.left()) - Theme::spacing;
    }
    painter.setFont(theme.bodyFont());
    painter.setPen(theme.text());
    const QRect textRect(iconX + iconSize + Theme::spacing - 2, 0, textRight - (iconX + iconSize + Theme::spacing - 2),
                         height());
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                     painter.fontMetrics().elidedText(m_message, Qt::ElideMiddle, textRect.width()));
}
