#pragma once

#include "RootGateView.h"
#include "WindowServices.h"

#include <QMainWindow>

class AppWindowConfigurator;

// The one window: "Brisko Vella", 1300 × 820, not resizable, centred once,
// with the gate as its content, a File menu without a new-window item and
// the Help menu (help page, installation guide, mail to the developer).
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    MainWindow(const WindowServices& services, RootGateView::ContentFactory contentFactory,
               LaunchDuties launchDuties, QWidget* parent = nullptr);

    RootGateView* gate() const { return m_gate; }
    AppWindowConfigurator* configurator() const { return m_configurator; }

    static QUrl helpUrl();
    static QUrl installGuideUrl();
    static QUrl contactUrl();

Q_SIGNALS:
    // "Выйти" from the File menu or from a gate screen.
    void quitRequested();

private:
    void buildMenus();
    void open(const QUrl& url);

    WindowServices m_services;
    RootGateView* m_gate;
    AppWindowConfigurator* m_configurator;
};
