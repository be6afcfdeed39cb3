#pragma once

#include <QColor>
#include <QWidget>

class QPainter;
class Theme;

// A container drawn as the window's card: a rounded, bordered surface in the
// card colour. Children are laid out with the usual layouts; the padding is
// the layout's job. Other painted widgets draw the same surface through
// paintCard so every card in the window looks alike.
class CardFrame : public QWidget
{
    Q_OBJECT
public:
    explicit CardFrame(QWidget* parent = nullptr);

    // An optional tint laid over the card colour (banners use the accent,
    // warning or danger colours); invalid = a plain card.
    void setTint(const QColor& tint);
    QColor tint() const { return m_tint; }

    static void paintCard(QPainter& painter, const QRectF& rect, const Theme& theme, const QColor& tint = QColor(),
                          bool highlighted = false);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_tint;
};
