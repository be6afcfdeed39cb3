#pragma once

#include <QWidget>

class Theme;

// The health score as a ring: the share of the ring filled is the score, its
// colour and the word under the number follow the score's band (accent from
// 70, orange from 50 to 69, red below 50). Painted in paintEvent from the Theme.
class HealthGauge : public QWidget
{
    Q_OBJECT

public:
    enum class Band { attention, fair, good, excellent };

    explicit HealthGauge(QWidget* parent = nullptr);

    void setScore(int score);
    int score() const { return m_score; }

    static Band band(int score);
    // "Отлично", "Хорошо", "Средне", "Требует внимания".
    static QString label(int score);
    static QColor colour(int score, const Theme& theme);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_score = 0;
};
