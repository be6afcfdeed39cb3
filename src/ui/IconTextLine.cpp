#include "IconTextLine.h"

#include "IconSet.h"
#include "Theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

namespace {
constexpr int iconSize = 16;
}

IconTextLine::IconTextLine(QWidget* parent)
    : QWidget(parent)
    , m_icon(new QLabel(this))
    , m_text(new QLabel(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(Theme::smallSpacing);
    m_icon->setFixedSize(iconSize, iconSize);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_icon, 0, Qt::AlignTop);
    layout->addWidget(m_text, 1);
}

void IconTextLine::setContent(const QString& symbolName, Tone tone, const QString& text)
{
    m_symbol = symbolName;
    m_tone = tone;
    m_text->setText(text);
    updateIcon();
}

QString IconTextLine::text() const
{
    return m_text->text();
}

QColor IconTextLine::colour(Tone tone, const QPalette& palette)
{
    const Theme theme(palette);
    switch (tone) {
    case Tone::accent:
        return theme.accent();
    case Tone::success:
        return theme.success();
    case Tone::warning:
        return theme.warning();
    case Tone::danger:
        return theme.danger();
    case Tone::neutral:
        break;
    }
    return theme.secondaryText();
}

void IconTextLine::updateIcon()
{
    if (m_symbol.isEmpty()) {
        m_icon->clear();
        m_icon->hide();
        return;
    }
    m_icon->show();
    m_icon->setPixmap(IconSet::pixmap(m_symbol, colour(m_tone, palette()), iconSize, devicePixelRatioF()));
}

void IconTextLine::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange) {
        updateIcon();
    }
    QWidget::changeEvent(event);
}
