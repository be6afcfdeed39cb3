#pragma once

#include <QWidget>

// The rounded panel the agreement and the introduction stand on, painted in
// the card colour of the theme with a hairline border. Lay its content out
// with an ordinary layout.
class GateCard : public QWidget
{
    Q_OBJECT
public:
    explicit GateCard(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
