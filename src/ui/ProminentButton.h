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

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
