#pragma once

#include <QWidget>

// "Шаг N из M" over a row of segments, the done ones in the accent colour.
class OnboardingProgressHeader : public QWidget
{
    Q_OBJECT
public:
    explicit OnboardingProgressHeader(int totalSteps, QWidget* parent = nullptr);

    void setStep(int step);
    int step() const { return m_step; }
    QString caption() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_totalSteps;
    int m_step = 0;
};
