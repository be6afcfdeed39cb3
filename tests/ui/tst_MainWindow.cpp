#include "BriskoTest.h"
#include "GateTestBed.h"

#include "AppWindowConfigurator.h"
#include "MainWindow.h"
#include "MakerContacts.h"

#include <QMenuBar>
#include <QScreen>
#include <QSignalSpy>

// The window itself: its one fixed size, centring only the first time, and
// what the commands of its menus call.
class tst_MainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_bed = std::make_unique<GateTestBed>();
        QVERIFY(m_bed->listening);
    }
    void fixedSizeCentredOnlyOnce()
    {
        std::unique_ptr<MainWindow> window = makeWindow();
        QVERIFY(!window->configurator()->didCenter());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_VERIFY(window->configurator()->didCenter());
        const QRect available = window->screen()->availableGeometry();
        QTRY_COMPARE(window->frameGeometry().topLeft(),
                     AppWindowConfigurator::centredPosition(window->frameGeometry().size(), available));
        // One size, whatever is asked.
        const QSize fixed = window->size();
        for (const QSize asked : {QSize(1600, 1000), QSize(640, 480)}) {
            window->resize(asked);
            QCOMPARE(window->size(), fixed);
        }

        // Where the user puts it, it stays, through hiding and showing again.
        window->move(available.topLeft() + QPoint(7, 9));
        const QPoint moved = window->pos();
        window->hide();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCoreApplication::processEvents();
        QCOMPARE(window->pos(), moved);
    }

    void centredPosition()
    {
        const QSize frame(1300, 850);
        // A large screen beside another one: centred within it.
        const QRect large(1920, 0, 2560, 1400);
        const QPoint centred = AppWindowConfigurator::centredPosition(frame, large);
        QCOMPARE(QRect(centred, frame).center(), large.center());
        // A screen too small for the window: its top-left corner stays on the screen.
        const QRect small(0, 25, 1024, 743);
        QCOMPARE(AppWindowConfigurator::centredPosition(frame, small), QPoint(0, 25));
        const QRect narrow(100, 0, 1280, 1024);
        const QPoint narrowPosition = AppWindowConfigurator::centredPosition(frame, narrow);
        QCOMPARE(narrowPosition.x(), 100);
        QCOMPARE(QRect(narrowPosition, frame).center().y(), narrow.center().y());
    }

    void menus()
    {
        std::unique_ptr<MainWindow> window = makeWindow();
        QSignalSpy quit(window.get(), &MainWindow::quitRequested);
        const QList<QAction*> menus = window->menuBar()->actions();
        QCOMPARE(menus.size(), 2);

        // One window only: the File menu offers no way to open another.
        const QList<QAction*> file = menus.at(0)->menu()->actions();
        QCOMPARE(file.size(), 1);
        QCOMPARE(file.first()->text(), QStringLiteral("Выйти"));
        file.first()->trigger();
        QCOMPARE(quit.size(), 1);

        const QList<QAction*> help = menus.at(1)->menu()->actions();
        QCOMPARE(help.size(), 4);
        for (int i : {0, 1, 3})
            help.at(i)->trigger();
        const QString install = MakerContacts::website + QStringLiteral("/brisko-vella/install");
        QCOMPARE(m_bed->workspace.opened, (QList<QUrl>{QUrl(install + QStringLiteral("#faq")), QUrl(install),
                                                       QUrl(QStringLiteral("mailto:") + MakerContacts::email)}));
    }

private:
    std::unique_ptr<MainWindow> makeWindow()
    {
        return std::make_unique<MainWindow>(m_bed->services(), [] { return new QWidget; }, LaunchDuties{});
    }

    std::unique_ptr<GateTestBed> m_bed;
};

BRISKO_TEST(tst_MainWindow)
#include "tst_MainWindow.moc"
