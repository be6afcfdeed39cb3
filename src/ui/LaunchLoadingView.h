#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

// The first screen of the gate while the region is being checked: the
// maker's mark, a title, a subtitle and an indicator that keeps moving.
class LaunchLoadingView : public QWidget
{
    Q_OBJECT
public:
    LaunchLoadingView(const QString& title, const QString& subtitle, QWidget* parent = nullptr);

    QString title() const;
    QString subtitle() const;
    // Busy (no range) for as long as the view stands.
    const QProgressBar* indicator() const { return m_indicator; }

private:
    QLabel* m_title;
    QLabel* m_subtitle;
    QProgressBar* m_indicator;
};
