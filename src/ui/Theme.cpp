#include "Theme.h"

#include <QApplication>
#include <QWidget>

namespace {
QColor mix(const QColor& a, const QColor& b, qreal t)
{
    return QColor::fromRgbF(float(a.redF() * (1 - t) + b.redF() * t), float(a.greenF() * (1 - t) + b.greenF() * t),
                            float(a.blueF() * (1 - t) + b.blueF() * t));
}
} // namespace

Theme::Theme(const QPalette& palette)
    : m_palette(palette)
    , m_dark(isDark(palette))
{
}

Theme Theme::of(const QWidget* widget)
{
    return Theme(widget ? widget->palette() : QApplication::palette());
}

bool Theme::isDark(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

QPalette Theme::lightPalette()
{
    QPalette p;
    const QColor window(0xf5, 0xf5, 0xf7);
    const QColor base(0xff, 0xff, 0xff);
    const QColor text(0x1d, 0x1d, 0x1f);
    const QColor accent(0x1f, 0x6f, 0xeb);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(0xf0, 0xf0, 0xf3));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, base);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, accent);
    p.setColor(QPalette::PlaceholderText, QColor(0x8a, 0x8a, 0x8e));
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Mid, QColor(0xd2, 0xd2, 0xd7));
    p.setColor(QPalette::Dark, QColor(0xa1, 0xa1, 0xa6));
    p.setColor(QPalette::Light, base);
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0xa1, 0xa1, 0xa6));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0xa1, 0xa1, 0xa6));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0xa1, 0xa1, 0xa6));
    return p;
}

QPalette Theme::darkPalette()
{
    QPalette p;
    const QColor window(0x1e, 0x1e, 0x20);
    const QColor base(0x2a, 0x2a, 0x2d);
    const QColor text(0xf2, 0xf2, 0xf7);
    const QColor accent(0x3b, 0x8b, 0xff);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(0x32, 0x32, 0x36));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, accent);
    p.setColor(QPalette::PlaceholderText, QColor(0x8e, 0x8e, 0x93));
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Mid, QColor(0x48, 0x48, 0x4a));
    p.setColor(QPalette::Dark, QColor(0x63, 0x63, 0x66));
    p.setColor(QPalette::Light, QColor(0x48, 0x48, 0x4a));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x63, 0x63, 0x66));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x63, 0x63, 0x66));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x63, 0x63, 0x66));
    return p;
}

QColor Theme::windowBackground() const { return m_palette.color(QPalette::Window); }
QColor Theme::sidebarBackground() const { return mix(windowBackground(), text(), m_dark ? 0.04 : 0.035); }
QColor Theme::cardBackground() const { return m_palette.color(QPalette::Base); }
QColor Theme::cardBorder() const { return m_palette.color(QPalette::Mid); }
QColor Theme::text() const { return m_palette.color(QPalette::WindowText); }
QColor Theme::secondaryText() const { return m_palette.color(QPalette::PlaceholderText); }
QColor Theme::accent() const { return m_palette.color(QPalette::Highlight); }
QColor Theme::accentText() const { return m_palette.color(QPalette::HighlightedText); }
QColor Theme::success() const { return m_dark ? QColor(0x32, 0xd7, 0x4b) : QColor(0x28, 0xa7, 0x45); }
QColor Theme::warning() const { return m_dark ? QColor(0xff, 0x9f, 0x0a) : QColor(0xe8, 0x86, 0x00); }
QColor Theme::danger() const { return m_dark ? QColor(0xff, 0x45, 0x3a) : QColor(0xd7, 0x26, 0x1e); }
QColor Theme::selectionBackground() const { return withAlpha(accent(), m_dark ? 0.28 : 0.14); }
QColor Theme::trackBackground() const { return mix(cardBackground(), text(), 0.1); }

QColor Theme::withAlpha(const QColor& colour, qreal alpha)
{
    QColor c = colour;
    c.setAlphaF(float(c.alphaF() * alpha));
    return c;
}

QFont Theme::scaled(qreal factor, QFont::Weight weight) const
{
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(qRound(font.pixelSize() * factor));
    font.setWeight(weight);
    return font;
}

QFont Theme::largeTitleFont() const { return scaled(1.9, QFont::Bold); }
QFont Theme::titleFont() const { return scaled(1.4, QFont::DemiBold); }
QFont Theme::headlineFont() const { return scaled(1.1, QFont::DemiBold); }
QFont Theme::bodyFont() const { return scaled(1.0, QFont::Normal); }
QFont Theme::captionFont() const { return scaled(0.88, QFont::Normal); }
