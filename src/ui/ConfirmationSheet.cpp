#include "ConfirmationSheet.h"

#include "ProminentButton.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// Paths have no spaces to wrap at; let them break after each slash instead
// of pushing the sheet wider than the window.
QString breakablePaths(QString text)
{
    return text.replace(QLatin1Char('/'), QStringLiteral("/\u200b"));
}
} // namespace

ConfirmationSheet::ConfirmationSheet(const ConfirmationRequest& request, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("confirmationSheet"));
    setWindowTitle(request.title);
    setWindowModality(Qt::WindowModal);
    const Theme theme = Theme::of(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Theme::padding + 8, Theme::padding + 4, Theme::padding + 8, Theme::padding + 4);
    layout->setSpacing(Theme::spacing);

    auto* title = new QLabel(request.title, this);
    title->setObjectName(QStringLiteral("sheetTitle"));
    title->setFont(theme.headlineFont());
    title->setWordWrap(true);
    layout->addWidget(title);

    m_message = new QLabel(breakablePaths(request.message), this);
    m_message->setObjectName(QStringLiteral("sheetMessage"));
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_message->setAccessibleDescription(request.message);
    layout->addWidget(m_message);
    layout->addSpacing(Theme::smallSpacing);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(Theme::spacing);
    buttons->addStretch(1);
    m_cancel = new QPushButton(request.cancelText, this);
    m_cancel->setObjectName(QStringLiteral("sheetCancel"));
    m_confirm = new ProminentButton(request.confirmText, this);
    m_confirm->setObjectName(QStringLiteral("sheetConfirm"));
    m_confirm->setDestructive(request.destructive);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_confirm);
    layout->addLayout(buttons);
    const bool alert = request.confirmText.isEmpty();
    m_confirm->setVisible(!alert);

    // Return presses the default button; a destructive action never is one.
    QPushButton* byDefault = request.destructive || alert || !request.confirmIsDefault
                                 ? m_cancel
                                 : static_cast<QPushButton*>(m_confirm);
    m_cancel->setAutoDefault(false);
    m_confirm->setAutoDefault(false);
    byDefault->setDefault(true);
    byDefault->setFocus();
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_confirm, &QPushButton::clicked, this, &QDialog::accept);

    // As wide as the longest line needs, within limits; the height follows.
    const QFontMetrics metrics(m_message->font());
    const int margins = layout->contentsMargins().left() + layout->contentsMargins().right();
    const int wanted = qMax(qMax(metrics.horizontalAdvance(request.message), QFontMetrics(title->font()).horizontalAdvance(request.title)),
                            m_cancel->sizeHint().width() + (alert ? 0 : m_confirm->sizeHint().width() + Theme::spacing))
                       + margins;
    setFixedWidth(qBound(minimumWidth, wanted, maximumWidth));
    setFixedHeight(heightForWidth(width()) > 0 ? heightForWidth(width()) : sizeHint().height());
}

QList<QPushButton*> ConfirmationSheet::buttons() const
{
    QList<QPushButton*> offered{m_cancel};
    if (!m_confirm->isHidden())
        offered.append(m_confirm);
    return offered;
}

void ConfirmationSheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Centred over the window it asks about.
    if (QWidget* window = parentWidget() ? parentWidget()->window() : nullptr) {
        const QPoint centre = window->mapToGlobal(window->rect().center());
        move(centre - QPoint(width() / 2, height() / 2));
    }
}

void ConfirmationSheet::paintEvent(QPaintEvent*)
{
    const Theme theme = Theme::of(this);
    QPainter painter(this);
    painter.fillRect(rect(), theme.cardBackground());
    painter.setPen(QPen(theme.controlBorder(), 1));
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
