#pragma once

#include <QWidget>

class QLabel;

// One line of status: a small tinted symbol and a wrapping text. The tint is
// a role of the Theme, so the line follows palette changes; used for the
// archive folder status, the feedback result and the cooling banner.
class IconTextLine : public QWidget
{
    Q_OBJECT

public:
    enum class Tone { neutral, accent, success, warning, danger };

    explicit IconTextLine(QWidget* parent = nullptr);

    void setContent(const QString& symbolName, Tone tone, const QString& text);
    QString text() const;
    QString symbolName() const { return m_symbol; }
    Tone tone() const { return m_tone; }

    static QColor colour(Tone tone, const QPalette& palette);

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateIcon();

    QLabel* m_icon;
    QLabel* m_text;
    QString m_symbol;
    Tone m_tone = Tone::neutral;
};
