#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QWidget;

// The look every custom-painted widget reads: colours derived from the
// widget's palette (so a dark palette works without extra code), plus the
// fixed radii, spacing and type scale of the window.
//
// A Theme is a cheap value; make one per paint with Theme::of(this).
class Theme
{
public:
    explicit Theme(const QPalette& palette);
    static Theme of(const QWidget* widget);

    // The palettes the application installs: light by default, dark when the
    // desktop asks for it or BRISKO_THEME=dark.
    static QPalette lightPalette();
    static QPalette darkPalette();
    static bool isDark(const QPalette& palette);

    const QPalette& palette() const { return m_palette; }
    bool dark() const { return m_dark; }

    QColor windowBackground() const;
    QColor sidebarBackground() const;
    QColor cardBackground() const;
    QColor cardBorder() const;
    QColor text() const;
    QColor secondaryText() const;
    QColor disabledText() const;
    // The accent for text, links and icons on the window's surfaces.
    QColor accent() const;
    // The accent as a fill under accentText (prominent buttons, ticked boxes, selected rows).
    QColor accentFill() const;
    QColor accentText() const;
    // Success, warning and danger as text and icons on the surfaces.
    QColor success() const;
    QColor warning() const;
    QColor danger() const;
    // The destructive button's fill under accentText.
    QColor dangerFill() const;
    // Checkbox borders and scrollbar handles: at least 3:1 against the surfaces.
    QColor controlBorder() const;
    QColor focusRing() const;
    // Background of the selected sidebar item and of hovered rows.
    QColor selectionBackground() const;
    // Track of capacity bars and gauges.
    QColor trackBackground() const;

    // The card surface under a tint (banners in the accent or warning colour), as painted.
    QColor tintedCard(const QColor& tint) const;
    // The mark drawn on a filled control (the tick on the accent): white or
    // the window colour, whichever stands out more.
    QColor markOn(const QColor& fill) const;

    // A colour with its alpha scaled; used for tinted banner backgrounds.
    static QColor withAlpha(const QColor& colour, qreal alpha);
    // The WCAG 2 contrast ratio of two opaque colours, 1 to 21.
    static double contrastRatio(const QColor& a, const QColor& b);
    // a painted over b (alpha of a).
    static QColor over(const QColor& a, const QColor& b);

    static constexpr int cardRadius = 12;
    static constexpr int controlRadius = 7;
    static constexpr int spacing = 12;
    static constexpr int smallSpacing = 6;
    static constexpr int padding = 16;
    static constexpr int sidebarWidth = 220;
    static constexpr int windowWidth = 1300;
    static constexpr int windowHeight = 820;

    QFont largeTitleFont() const;
    QFont titleFont() const;
    QFont headlineFont() const;
    QFont bodyFont() const;
    QFont captionFont() const;

private:
    QFont scaled(qreal factor, QFont::Weight weight) const;

    QPalette m_palette;
    bool m_dark = false;
};
