#pragma once

#include <QWidget>

class QPainter;
class Theme;

// A painted fill bar for a used fraction of a capacity (volumes, scores).
// The fill turns to the warning colour from 75 % and to the danger colour
// from 90 %, as a nearly full disk deserves.
class CapacityBar : public QWidget
{
    Q_OBJECT
public:
    explicit CapacityBar(QWidget* parent = nullptr);

    double fraction() const { return m_fraction; }
    // Clamped to 0…1.
    void setFraction(double fraction);
    QSize sizeHint() const override { return {120, barHeight}; }

    static constexpr int barHeight = 8;
    static QColor fillColour(double fraction, const Theme& theme);
    static void paint(QPainter& painter, const QRectF& rect, double fraction, const Theme& theme);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_fraction = 0.0;
};
