#include "OnboardingProgressHeader.h"

#include "Theme.h"

#include <QPainter>

OnboardingProgressHeader::OnboardingProgressHeader(int totalSteps, QWidget* parent)
    : QWidget(parent)
    , m_totalSteps(qMax(1, totalSteps))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(caption());
}

void OnboardingProgressHeader::setStep(int step)
{
    m_step = qBound(0, step, m_totalSteps - 1);
    setAccessibleName(caption());
    update();
}

QString OnboardingProgressHeader::caption() const
{
    return QStringLiteral("Шаг %1 из %2").arg(m_step + 1).arg(m_totalSteps);
}

QSize OnboardingProgressHeader::sizeHint() const
{
    const QFontMetrics metrics(Theme::of(this).captionFont());
    return {320, metrics.height() + 14};
}

void OnboardingProgressHeader::paintEvent(QPaintEvent*)
{
    const Theme theme = Theme::of(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    const QFont font = theme.captionFont();
    const QFontMetrics metrics(font);
    painter.setFont(font);
    painter.setPen(theme.secondaryText());
    painter.drawText(QRect(0, 0, width(), metrics.height()), Qt::AlignLeft | Qt::AlignVCenter, caption());

    const int gap = 6;
    const qreal barTop = metrics.height() + 8;
    const qreal segment = (width() - gap * (m_totalSteps - 1)) / qreal(m_totalSteps);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < m_totalSteps; ++i) {
        painter.setBrush(i <= m_step ? theme.accent() : theme.trackBackground());
        painter.drawRoundedRect(QRectF(i * (segment + gap), barTop, segment, 4), 2, 2);
    }
}
