#include "BriskoTest.h"
#include "TestValues.h"
#include "ViewTestBed.h"

#include "UsageMapView.h"
#include "UsageRingChart.h"
#include "app/AppState.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

// The size map over a real temporary home: mapping, drilling in by mouse,
// back by breadcrumb and keyboard, hover, the side list, and an action from
// the context menu through the confirmation, after which the map follows.
class tst_UsageMapView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_bed = std::make_unique<ViewTestBed>();
        m_f = &m_bed->fixture;
        m_f->sized(QStringLiteral("Видео/фильм.mkv"), 900 * MiB);
        m_f->sized(QStringLiteral("Видео/клип.mp4"), 100 * MiB);
        m_f->sized(QStringLiteral("Документы/отчёт.pdf"), 250 * MiB);
        m_f->sized(QStringLiteral("Library/Caches/com.example.tool/blob"), 400 * MiB);
        m_state = m_bed->state();
        m_view = std::make_unique<UsageMapView>(m_bed->services());
        m_view->resize(1000, 700);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        m_view->buildButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(m_state->usageTree() && !m_state->isBusy(), 20000);
    }

    void cleanup() { m_view.reset(); }
    void drillInHoverAndBack()
    {
        const UsageTree& tree = *m_state->usageTree();
        QCOMPARE(m_view->childList()->item(0)->data(Qt::AccessibleTextRole).toString().section(QLatin1Char(' '), 0, 0),
                 QStringLiteral("Видео"));
        QCOMPARE(m_view->breadcrumb().size(), 1);

        clickEntry("Видео");
        QCOMPARE(m_view->focusPath(), m_f->home.nativePath("Видео"));
        QCOMPARE(m_view->breadcrumb().size(), 2);
        QCOMPARE(m_view->childList()->count(), 2);
        QVERIFY(m_view->childList()->item(0)->text().startsWith(QStringLiteral("фильм.mkv — ")));

        QTest::mouseMove(m_view->chart(), pointOf("Видео/фильм.mkv"));
        QTRY_VERIFY(m_view->hoverLabel()->text().startsWith(QStringLiteral("фильм.mkv — ")));

        m_view->breadcrumb().first()->click();
        QCOMPARE(m_view->focusPath(), m_f->home.home());

        // Keyboard: the first ring in turn, Return drills in, Backspace goes up.
        m_view->chart()->setFocus();
        QTest::keyClick(m_view->chart(), Qt::Key_Right);
        QCOMPARE(m_view->chart()->selected(), tree.largestChildren(0).first());
        QTest::keyClick(m_view->chart(), Qt::Key_Right);
        QCOMPARE(m_view->chart()->selected(), tree.largestChildren(0).at(1));
        QTest::keyClick(m_view->chart(), Qt::Key_Return);
        QCOMPARE(m_view->focusPath(), m_f->home.nativePath("Library"));
        QTest::keyClick(m_view->chart(), Qt::Key_Backspace);
        QCOMPARE(m_view->focusPath(), m_f->home.home());
        QCOMPARE(m_view->chart()->selected(), entry("Library"));
    }

    void trashFromTheMenuAfterConfirmation()
    {
        QMenu* videoMenu = m_view->menuFor(entry("Видео"));
        const auto action = [](QMenu* menu, const QString& text) {
            for (QAction* a : menu->actions()) {
                if (a->text() == text)
                    return a;
            }
            return static_cast<QAction*>(nullptr);
        };
        QVERIFY(!action(videoMenu, QStringLiteral("Очистить"))->isEnabled());
        delete videoMenu;
        clickEntry("Library");
        clickEntry("Library/Caches");
        QMenu* cacheMenu = m_view->menuFor(entry("Library/Caches/com.example.tool"));
        QVERIFY(action(cacheMenu, QStringLiteral("Очистить"))->isEnabled());
        delete cacheMenu;
        m_view->breadcrumb().first()->click();

        const qint64 before = m_state->usageTree()->size(0);
        const QPoint at = pointOf("Документы");
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, m_view->chart()->mapToGlobal(at));
        QApplication::sendEvent(m_view->chart(), &event);
        QMenu* menu = m_view->findChild<QMenu*>(QStringLiteral("usageContextMenu"));
        QVERIFY(menu);

        m_bed->confirmer.answer = true;
        action(menu, QStringLiteral("Удалить в Корзину"))->trigger();
        QCOMPARE(m_bed->confirmer.requests.size(), 1);
        QCOMPARE(m_bed->confirmer.requests.first().title, QStringLiteral("Удалить в Корзину?"));
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(m_f->home.filePath(QStringLiteral("Документы"))), 20000);
        QVERIFY(QFile::exists(m_f->home.filePath(QStringLiteral(".local/share/Trash/files/Документы/отчёт.pdf"))));
        // The map walks only what changed and loses the folder.
        QTRY_COMPARE_WITH_TIMEOUT(entry("Документы"), UsageTree::noNode, 20000);
        QVERIFY(m_state->usageTree()->size(0) < before - 200 * MiB);
        for (int row = 0; row < m_view->childList()->count(); ++row)
            QVERIFY(!m_view->childList()->item(row)->text().startsWith(QStringLiteral("Документы")));
    }

private:
    UsageTree::Index entry(const char* relative) const
    {
        return m_state->usageTree()->find(m_f->home.nativePath(relative));
    }
    // Where the chart draws the entry, in its own coordinates.
    QPoint pointOf(const char* relative) const
    {
        const std::optional<QPointF> at = m_view->chart()->pointOf(entry(relative));
        [&] { QVERIFY2(at, relative); }();
        return at.value_or(QPointF()).toPoint();
    }
    void clickEntry(const char* relative) { QTest::mouseClick(m_view->chart(), Qt::LeftButton, {}, pointOf(relative)); }

    std::unique_ptr<ViewTestBed> m_bed;
    AppFixture* m_f = nullptr;
    AppState* m_state = nullptr;
    std::unique_ptr<UsageMapView> m_view;
};

BRISKO_TEST(tst_UsageMapView)
#include "tst_UsageMapView.moc"
