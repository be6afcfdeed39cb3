#include "AppWindowConfigurator.h"

#include <QEvent>
#include <QLayout>
#include <QScreen>
#include <QTimer>
#include <QWidget>

AppWindowConfigurator::AppWindowConfigurator(QWidget* window, QWidget* content, QSize contentSize)
    : QObject(window)
    , m_window(window)
    , m_content(content)
    , m_contentSize(contentSize)
{
    m_window->installEventFilter(this);
    // Set before the window exists: changing flags of a shown window hides it.
    m_window->setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);
    configure();
}

void AppWindowConfigurator::configure()
{
    if (m_content->size() != m_contentSize || m_content->minimumSize() != m_contentSize
        || m_content->maximumSize() != m_contentSize) {
        m_content->setFixedSize(m_contentSize);
    }
    m_content->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // The window around the content (with its menu bar) is as large as it
    // needs and no larger; the window manager sees min == max and offers no
    // resizing.
    if (QLayout* layout = m_window->layout()) {
        layout->activate();
    }
    const QSize windowSize = m_window->sizeHint().expandedTo(m_contentSize);
    if (m_window->minimumSize() != windowSize || m_window->maximumSize() != windowSize) {
        m_window->setFixedSize(windowSize);
    }
    m_window->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

bool AppWindowConfigurator::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::Show) {
        // Queued, like the configuration of a window that is being created:
        // the screen is known only once the window is shown.
        QTimer::singleShot(0, this, [this] {
            configure();
            centerOnce();
        });
    }
    return QObject::eventFilter(watched, event);
}

void AppWindowConfigurator::centerOnce()
{
    if (m_didCenter) {
        return;
    }
    QScreen* screen = m_window->screen();
    if (!screen) {
        return;
    }
    m_didCenter = true;
    m_window->move(centredPosition(m_window->frameGeometry().size(), screen->availableGeometry()));
}

QPoint AppWindowConfigurator::centredPosition(const QSize& frameSize, const QRect& available)
{
    QRect frame(QPoint(0, 0), frameSize);
    frame.moveCenter(available.center());
    // On a screen smaller than the window its title bar stays reachable.
    return {qMax(frame.left(), available.left()), qMax(frame.top(), available.top())};
}
