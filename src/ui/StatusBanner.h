#pragma once

#include <QTimer>
#include <QWidget>

class QPushButton;

// The strip at the top of the detail area: the application's status line and,
// while an operation runs, a spinner and the operation's progress. Painted.
// While loading it also offers "Остановить" (stopRequested); after a click,
// until the operation ends, the button reads "Останавливаю…" and is
// disabled. It only shows what it is given; ContentView feeds it from the
// application state.
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
    // A stop was asked for: the button waits for the operation to end.
    void setStopping(bool stopping);
    QPushButton* stopButton() const { return m_stop; }

    QSize sizeHint() const override;
    static constexpr int bannerHeight = 40;
    static constexpr int progressWidth = 180;

Q_SIGNALS:
    void stopRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QString m_message;
    bool m_loading = false;
    double m_progress = 0.0;
    int m_spinnerAngle = 0;
    QTimer m_spinner;
    QPushButton* m_stop = nullptr;
};
