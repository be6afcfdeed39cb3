#pragma once

#include <QPushButton>

// The one emphasised action of a screen ("Принимаю", "Далее", "Выйти" on the
// blocking screen): an accent-filled rounded button painted from the theme,
// so it reads the same in the light and the dark palette.
class ProminentButton : public QPushButton
{
    Q_OBJECT
public:
    explicit ProminentButton(const QString& text, QWidget* parent = nullptr);

    // Filled in the palette's destructive colour instead of the accent.
    void setDestructive(bool destructive);
    bool isDestructive() const { return m_destructive; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_destructive = false;
};
