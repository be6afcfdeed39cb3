#pragma once

#include <QProxyStyle>

// Fusion with the window's radii and metrics. Fusion is forced so a desktop
// theme cannot change how the window looks; this proxy only adjusts what
// Fusion draws too plainly for a utility's window.
class BriskoStyle : public QProxyStyle
{
    Q_OBJECT
public:
    BriskoStyle();

    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};
