#pragma once

#include <QProxyStyle>

// Fusion with the window's radii and metrics. Fusion is forced so a desktop
// theme cannot change how the window looks; this proxy only adjusts what
// Fusion draws too plainly for a utility's window: checkboxes whose border
// keeps 3:1 against the surface in both palettes, and scrollbars with a
// handle that stands out from the page (Fusion derives both from the
// window colour, which leaves them nearly invisible on cards).
class BriskoStyle : public QProxyStyle
{
    Q_OBJECT
public:
    BriskoStyle();

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget = nullptr) const override;

    // Between a button's icon and its text, and added to each side of a button.
    static constexpr int iconTextGap = 6;
    static constexpr int extraButtonPadding = 6;

private:
    void drawCheckBox(const QStyleOption* option, QPainter* painter) const;
    void drawScrollBar(const QStyleOptionComplex* option, QPainter* painter, const QWidget* widget) const;
};
