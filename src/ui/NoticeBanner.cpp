#include "NoticeBanner.h"

#include "IconSet.h"
#include "Theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

NoticeBanner::NoticeBanner(QWidget* parent)
    : CardFrame(parent)
{
    const Theme theme = Theme::of(this);
    setTint(theme.accent());
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(Theme::padding, Theme::spacing, Theme::padding, Theme::spacing);
    layout->setSpacing(Theme::spacing);
    m_icon = new QLabel(this);
    m_icon->setFixedSize(22, 22);
    layout->addWidget(m_icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_title = new QLabel(this);
    m_title->setFont(theme.headlineFont());
    m_title->setWordWrap(true);
    m_message = new QLabel(this);
    m_message->setWordWrap(true);
    m_message->setForegroundRole(QPalette::PlaceholderText);
    m_message->hide();
    texts->addWidget(m_title);
    texts->addWidget(m_message);
    layout->addLayout(texts, 1);
    m_buttonRow = new QHBoxLayout;
    m_buttonRow->setSpacing(Theme::smallSpacing);
    layout->addLayout(m_buttonRow);
}

void NoticeBanner::setIcon(const QString& symbolName)
{
    m_symbol = symbolName;
    refreshIcon();
}

void NoticeBanner::refreshIcon()
{
    const QColor colour = tint().isValid() ? tint() : Theme::of(this).accent();
    m_icon->setPixmap(IconSet::pixmap(m_symbol, colour, 22, devicePixelRatioF()));
}

void NoticeBanner::setTitle(const QString& title)
{
    m_title->setText(title);
    setAccessibleName(title);
}

void NoticeBanner::setMessage(const QString& message)
{
    m_message->setText(message);
    m_message->setVisible(!message.isEmpty());
}

QString NoticeBanner::title() const
{
    return m_title->text();
}

QString NoticeBanner::message() const
{
    return m_message->text();
}

QPushButton* NoticeBanner::addButton(const QString& text, bool primary)
{
    auto* button = new QPushButton(text, this);
    button->setDefault(primary);
    button->setAutoDefault(false);
    m_buttonRow->addWidget(button, 0, Qt::AlignVCenter);
    m_buttons.append(button);
    return button;
}

void NoticeBanner::clearButtons()
{
    for (QPushButton* button : std::as_const(m_buttons))
        button->deleteLater();
    for (QPushButton* button : std::as_const(m_buttons))
        m_buttonRow->removeWidget(button);
    m_buttons.clear();
}

void NoticeBanner::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        refreshIcon();
    CardFrame::changeEvent(event);
}
