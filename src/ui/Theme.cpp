#include "Theme.h"

#include <QApplication>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {
void setDisabledText(QPalette& palette, const QColor& colour)
{
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText, QPalette::PlaceholderText})
        palette.setColor(QPalette::Disabled, role, colour);
}

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
    // Every text colour keeps 4.5:1 against the surfaces it is drawn on
    // (tst_ThemeContrast computes each pair); white on the accent too.
    const QColor accent(0x1a, 0x66, 0xd9);
    const QColor secondary(0x63, 0x63, 0x66);
    const QColor disabled(0x6e, 0x6e, 0x73);
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
    p.setColor(QPalette::PlaceholderText, secondary);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Mid, QColor(0xd2, 0xd2, 0xd7));
    // Checkbox borders and scrollbar handles: 3:1 on cards and the window.
    p.setColor(QPalette::Dark, QColor(0x86, 0x86, 0x8b));
    p.setColor(QPalette::Light, base);
    setDisabledText(p, disabled);
    return p;
}

QPalette Theme::darkPalette()
{
    QPalette p;
    const QColor window(0x1e, 0x1e, 0x20);
    const QColor base(0x2a, 0x2a, 0x2d);
    const QColor text(0xf2, 0xf2, 0xf7);
    // The accent fill carries white text; the lighter accent is the one for
    // links and icons on the dark surfaces.
    const QColor accent(0x2f, 0x6b, 0xd1);
    const QColor link(0x5a, 0xa0, 0xff);
    const QColor secondary(0xae, 0xae, 0xb2);
    const QColor disabled(0xa1, 0xa1, 0xa6);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(0x32, 0x32, 0x36));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x33, 0x33, 0x37));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, link);
    p.setColor(QPalette::PlaceholderText, secondary);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Mid, QColor(0x48, 0x48, 0x4a));
    p.setColor(QPalette::Dark, QColor(0x8e, 0x8e, 0x93));
    p.setColor(QPalette::Light, QColor(0x48, 0x48, 0x4a));
    setDisabledText(p, disabled);
    return p;
}

QColor Theme::windowBackground() const { return m_palette.color(QPalette::Window); }
QColor Theme::sidebarBackground() const { return mix(windowBackground(), text(), m_dark ? 0.04 : 0.035); }
QColor Theme::cardBackground() const { return m_palette.color(QPalette::Base); }
QColor Theme::cardBorder() const { return m_palette.color(QPalette::Mid); }
QColor Theme::text() const { return m_palette.color(QPalette::WindowText); }
QColor Theme::secondaryText() const { return m_palette.color(QPalette::PlaceholderText); }
QColor Theme::disabledText() const { return m_palette.color(QPalette::Disabled, QPalette::WindowText); }
QColor Theme::accent() const { return m_palette.color(QPalette::Link); }
QColor Theme::accentFill() const { return m_palette.color(QPalette::Highlight); }
QColor Theme::accentText() const { return m_palette.color(QPalette::HighlightedText); }
QColor Theme::success() const { return m_dark ? QColor(0x32, 0xd7, 0x4b) : QColor(0x1e, 0x7e, 0x34); }
QColor Theme::warning() const { return m_dark ? QColor(0xff, 0x9f, 0x0a) : QColor(0xb4, 0x5f, 0x00); }
QColor Theme::danger() const { return m_dark ? QColor(0xff, 0x69, 0x61) : QColor(0xc4, 0x22, 0x1b); }
QColor Theme::dangerFill() const { return m_dark ? QColor(0xc9, 0x34, 0x2b) : danger(); }
QColor Theme::controlBorder() const { return m_palette.color(QPalette::Dark); }
QColor Theme::focusRing() const { return accent(); }
QColor Theme::selectionBackground() const { return withAlpha(accent(), m_dark ? 0.28 : 0.14); }
QColor Theme::trackBackground() const { return mix(cardBackground(), text(), 0.1); }

QColor Theme::tintedCard(const QColor& tint) const
{
    return over(withAlpha(tint, m_dark ? 0.15 : 0.10), cardBackground());
}

QColor Theme::markOn(const QColor& fill) const
{
    const QColor white = accentText();
    return contrastRatio(white, fill) >= contrastRatio(windowBackground(), fill) ? white : windowBackground();
}

QColor Theme::over(const QColor& a, const QColor& b)
{
    return mix(b, QColor(a.red(), a.green(), a.blue()), a.alphaF());
}

double Theme::contrastRatio(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

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
