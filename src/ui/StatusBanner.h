#pragma once

#include <QTimer>
#include <QWidget>

// The strip at the top of the detail area: the application's status line and,
// while an operation runs, a spinner and the operation's progress. Painted.
// It only shows what it is given; ContentView feeds it from the application
// state.
class StatusBanner : public QWidget
{
    Q_OBJECT
public:
    explicit StatusBanner(QWidget* parent = nullptr);

    QString message() const { return m_message; }
    bool isLoading() const { return m_loading; }
    double progress() const { return m_progress; }

    void setMessage(const QString& message);
    void setLoading(bool loading);
    // Fraction 0…1; values outside are clamped.
    void setProgress(double progress);

    QSize sizeHint() const override;
    static constexpr int bannerHeight = 40;
    static constexpr int progressWidth = 180;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_message;
    bool m_loading = false;
    double m_progress = 0.0;
    int m_spinnerAngle = 0;
    QTimer m_spinner;
};
