#include "MainWindow.h"

#include "AppWindowConfigurator.h"
#include "MakerContacts.h"
#include "Theme.h"
#include "platform/Workspace.h"

#include <QAction>
#include <QMenuBar>
#include <QUrl>

MainWindow::MainWindow(const WindowServices& services, RootGateView::ContentFactory contentFactory,
                       LaunchDuties launchDuties, QWidget* parent)
    : QMainWindow(parent)
    , m_services(services)
    , m_gate(new RootGateView(services, std::move(contentFactory), std::move(launchDuties), this))
{
    setWindowTitle(QStringLiteral("Brisko Vella"));
    setCentralWidget(m_gate);
    buildMenus();
    m_configurator = new AppWindowConfigurator(this, m_gate, QSize(Theme::windowWidth, Theme::windowHeight));
    connect(m_gate, &RootGateView::quitRequested, this, &MainWindow::quitRequested);
}

QUrl MainWindow::helpUrl()
{
    return QUrl(MakerContacts::website + QStringLiteral("/brisko-vella/install#faq"));
}

QUrl MainWindow::installGuideUrl()
{
    return QUrl(MakerContacts::website + QStringLiteral("/brisko-vella/install"));
}

QUrl MainWindow::contactUrl()
{
    return QUrl(QStringLiteral("mailto:") + MakerContacts::email);
}

void MainWindow::buildMenus()
{
    // No item opens a second window: there is exactly one.
    QMenu* file = menuBar()->addMenu(QStringLiteral("Файл"));
    QAction* quit = file->addAction(QStringLiteral("Выйти"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, &MainWindow::quitRequested);

    QMenu* help = menuBar()->addMenu(QStringLiteral("Справка"));
    connect(help->addAction(QStringLiteral("Справка Brisko Vella")), &QAction::triggered, this,
            [this] { open(helpUrl()); });
    connect(help->addAction(QStringLiteral("Инструкция по установке")), &QAction::triggered, this,
            [this] { open(installGuideUrl()); });
    help->addSeparator();
    connect(help->addAction(QStringLiteral("Написать разработчику")), &QAction::triggered, this,
            [this] { open(contactUrl()); });
}

void MainWindow::open(const QUrl& url)
{
    if (m_services.workspace) {
        m_services.workspace->openUrl(url);
    }
}
