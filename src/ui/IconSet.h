#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

// The window's icons. Screens name icons by the symbol names of the original
// design ("folder.fill", "trash.fill", …); one table maps each name to an SVG
// of the icon set compiled into the resources, which is tinted on load.
//
// An unknown symbol name yields a null icon; the icon test renders every
// mapped name so a missing file or a missing SVG plugin cannot go unnoticed.
class IconSet
{
public:
    // Every symbol name the table maps.
    static QStringList symbolNames();
    // The resource path of the SVG behind a symbol name, or an empty string.
    static QString resourcePath(const QString& symbolName);

    // The symbol drawn in one colour at size × size logical pixels.
    static QPixmap pixmap(const QString& symbolName, const QColor& tint, int size, qreal devicePixelRatio = 1.0);
    // An icon whose normal and disabled states are tinted from the colours given.
    static QIcon icon(const QString& symbolName, const QColor& tint, const QColor& disabledTint = QColor());

    // The maker's marks, drawn for this application (not from the icon set).
    static QPixmap korvaneMark(int size, qreal devicePixelRatio = 1.0);
    static QPixmap korvaneLogo(const QSize& size, const QColor& textColour, qreal devicePixelRatio = 1.0);
    static constexpr const char* markResource = ":/brand/KorvaneMark.svg";
    static constexpr const char* logoResource = ":/brand/KorvaneLogo.svg";

    // Renders SVG text with every "currentColor" replaced by tint.
    static QPixmap renderSvg(const QByteArray& svg, const QColor& tint, const QSize& size, qreal devicePixelRatio);
};
