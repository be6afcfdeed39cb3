#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Keeps the main window at its one size and centres it once: the window
// cannot be resized (minimum = maximum, fixed size policy), its content area
// is held at contentSize, and the first time it is shown it is centred on its
// screen. Later shows (after hiding, or from a restore) leave it where the
// user put it.
class AppWindowConfigurator : public QObject
{
    Q_OBJECT
public:
    // window: the top-level window; content: the widget that must measure
    // contentSize (the window's central widget).
    AppWindowConfigurator(QWidget* window, QWidget* content, QSize contentSize);

    bool didCenter() const { return m_didCenter; }
    // Applies the size rules (again after the menu bar or the content changed).
    void configure();

    // Where a window frame of frameSize stands centred in available; its
    // top-left corner never leaves the available area.
    static QPoint centredPosition(const QSize& frameSize, const QRect& available);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void centerOnce();

    QWidget* m_window;
    QWidget* m_content;
    QSize m_contentSize;
    bool m_didCenter = false;
};
