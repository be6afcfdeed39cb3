#include "PanelCard.h"

#include "CardFrame.h"
#include "Theme.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

PanelCard::PanelCard(const QString& title, QWidget* parent)
    : QWidget(parent)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(Theme::padding, Theme::padding, Theme::padding, Theme::padding);
    outer->setSpacing(Theme::spacing);
    if (!title.isEmpty()) {
        m_title = new QLabel(title, this);
        m_title->setObjectName(QStringLiteral("cardTitle"));
        outer->addWidget(m_title);
    }
    m_body = new QVBoxLayout;
    m_body->setContentsMargins(0, 0, 0, 0);
    m_body->setSpacing(Theme::smallSpacing + 2);
    outer->addLayout(m_body);
    applyFonts();
}

QLabel* PanelCard::makeNote(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setFont(Theme(label->palette()).captionFont());
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QLabel* PanelCard::makeHeading(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(Theme(label->palette()).headlineFont());
    return label;
}

void PanelCard::applyFonts()
{
    if (m_title) {
        m_title->setFont(Theme::of(this).headlineFont());
    }
}

void PanelCard::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        applyFonts();
    }
    QWidget::changeEvent(event);
}

void PanelCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    CardFrame::paintCard(painter, QRectF(rect()), Theme::of(this));
}
