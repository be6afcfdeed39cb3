#include "BriskoTest.h"
#include "TestValues.h"
#include "ViewTestBed.h"

#include "CleanArchivePanel.h"
#include "HealthGauge.h"
#include "IconTextLine.h"
#include "MacHealthDashboardSection.h"
#include "SafeCleanupPanel.h"
#include "Theme.h"
#include "UsageMapView.h"
#include "UsageRingChart.h"
#include "app/AppState.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>

#include <cmath>

// The overview's panels over a real application state and real folders: what
// each shows and what it calls; what the operations do is AppState's test.
class tst_OverviewPanels : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_bed = std::make_unique<ViewTestBed>();
        m_fixture = &m_bed->fixture;
        m_state = m_bed->state();
    }
    void cleanup() { m_map.reset(); }
    void safeCleanupDeletesOnlyTheTickedAfterAsking()
    {
        m_fixture->sized(QStringLiteral("Library/Caches/pip/колёса.bin"), 40 << 20);
        m_fixture->sized(QStringLiteral("Library/Caches/Homebrew/бутылка.tar"), 5 << 20);
        SafeCleanupPanel panel(m_bed->services());
        panel.show();
        auto* find = panel.findChild<QPushButton*>(QStringLiteral("findSafeCaches"));
        QVERIFY(find->isVisible());
        find->click();
        QList<QWidget*> rows = panel.findChildren<QWidget*>(QStringLiteral("safeCleanupRow"));
        QCOMPARE(rows.size(), 2);
        QVERIFY(!find->isVisible());
        QCOMPARE(rows.first()->findChild<QCheckBox*>()->text(), QStringLiteral("pip"));
        QCOMPARE(rows.first()->findChild<QLabel*>(QStringLiteral("risk"))->text(), QStringLiteral("Безопасно"));
        auto* selected = panel.findChild<QLabel*>(QStringLiteral("selectedSafeCleanupSize"));
        QCOMPARE(selected->text(), QStringLiteral("Выбрано: 47,2\u00a0МБ"));

        // Untick Homebrew; a refused question deletes nothing.
        rows.last()->findChild<QCheckBox*>()->click();
        QCOMPARE(selected->text(), QStringLiteral("Выбрано: 41,9\u00a0МБ"));
        m_bed->confirmer.answer = false;
        auto* clean = panel.findChild<QPushButton*>(QStringLiteral("cleanSafeCaches"));
        clean->click();
        QCOMPARE(m_bed->confirmer.requests.size(), 1);
        QCOMPARE(m_bed->confirmer.requests.first().title, QStringLiteral("Очистить выбранное?"));
        QVERIFY(m_bed->confirmer.requests.first().message.contains(QStringLiteral("41,9\u00a0МБ")));
        QVERIFY(!m_state->isBusy());
        QVERIFY(QDir(m_fixture->home.filePath(QStringLiteral("Library/Caches/pip"))).exists());

        m_bed->confirmer.answer = true;
        clean->click();
        // The rows follow the state's new list: only Homebrew is left.
        QTRY_COMPARE(panel.findChildren<QWidget*>(QStringLiteral("safeCleanupRow")).size(), 1);
        rows = panel.findChildren<QWidget*>(QStringLiteral("safeCleanupRow"));
        QCOMPARE(rows.first()->findChild<QCheckBox*>()->text(), QStringLiteral("Homebrew"));
    }

    void cleanArchiveCreatesListsAndReveals()
    {
        m_bed->setArchivePath(m_fixture->home.makeDir(QStringLiteral("Архивный диск/Brisko Archive")));
        m_fixture->home.makeFile(QStringLiteral("Documents/Договор.pdf"), 3000);
        m_fixture->home.makeFile(QStringLiteral("Desktop/заметка.txt"), 200);

        CleanArchivePanel panel(m_bed->services());
        panel.show();
        auto* profile = panel.findChild<QComboBox*>(QStringLiteral("cleanArchiveProfile"));
        auto* description = panel.findChild<QLabel*>(QStringLiteral("profileDescription"));
        profile->setCurrentIndex(profile->count() - 1);
        QVERIFY(description->text() != QStringLiteral("Documents, Desktop, Downloads (без установщиков)"));
        profile->setCurrentIndex(0);
        QCOMPARE(panel.selectedProfile(), CleanArchiveProfile::essential);
        QCOMPARE(description->text(), QStringLiteral("Documents, Desktop, Downloads (без установщиков)"));

        auto* compress = panel.findChild<QCheckBox*>(QStringLiteral("compressCleanArchive"));
        QVERIFY(compress->isChecked());
        compress->click();
        QVERIFY(!m_state->settings().compressCleanArchive);
        QCOMPARE(m_bed->storedSettings().value(QStringLiteral("compressCleanArchive")), QJsonValue(false));

        QVERIFY(panel.findChildren<QWidget*>(QStringLiteral("cleanArchiveRow")).isEmpty());
        panel.findChild<QPushButton*>(QStringLiteral("createCleanArchive"))->click();
        QVERIFY(!panel.findChild<QPushButton*>(QStringLiteral("createCleanArchive"))->isEnabled());
        QTRY_VERIFY(!m_state->isBusy());
        const QList<QWidget*> rows = panel.findChildren<QWidget*>(QStringLiteral("cleanArchiveRow"));
        QCOMPARE(rows.size(), 1);
        const CleanArchiveSummary archive = m_state->cleanArchives().first();
        QCOMPARE(rows.first()->findChild<QLabel*>(QStringLiteral("name"))->text(), archive.id);
        const QString details = rows.first()->findChild<QLabel*>(QStringLiteral("details"))->text();
        QVERIFY2(details.startsWith(QStringLiteral("2 элемента · На диске: ")), qPrintable(details));
        QVERIFY(!details.contains(QStringLiteral("tar.zst")));

        rows.first()->findChild<QPushButton*>(QStringLiteral("reveal"))->click();
        QCOMPARE(m_bed->workspace.revealed, QList<FilePath>{archive.url});

        // A restore asks first and names what it will skip; declined, nothing runs.
        m_bed->confirmer.answer = false;
        auto* restore = rows.first()->findChild<QPushButton*>(QStringLiteral("restore"));
        restore->click();
        QCOMPARE(m_bed->confirmer.requests.last().title, QStringLiteral("Восстановить архив?"));
        QCOMPARE(m_bed->confirmer.requests.last().message,
                 QStringLiteral("Всё из этого архива уже есть в домашней папке — восстанавливать нечего: "
                                "существующее не перезаписывается."));
        QVERIFY(!m_state->isBusy());
        QVERIFY(QDir(m_fixture->home.filePath(QStringLiteral("Desktop"))).removeRecursively());
        m_bed->confirmer.answer = true;
        restore->click();
        QCOMPARE(m_bed->confirmer.requests.last().message,
                 QStringLiteral("В домашнюю папку вернётся 1 элемент. Уже есть и будут пропущены: «Documents» — "
                                "существующее не перезаписывается."));
        QTRY_COMPARE(m_state->statusMessage(), QStringLiteral("Восстановлено: 1, пропущено (уже есть): 1, ошибок: 0"));
    }

    void mapDrillInHoverAndBack()
    {
        makeMap();
        const UsageTree& tree = *m_state->usageTree();
        QCOMPARE(m_map->childList()->item(0)->data(Qt::AccessibleTextRole).toString().section(QLatin1Char(' '), 0, 0),
                 QStringLiteral("Видео"));
        QCOMPARE(m_map->breadcrumb().size(), 1);

        clickEntry("Видео");
        QCOMPARE(m_map->focusPath(), m_fixture->home.nativePath("Видео"));
        QCOMPARE(m_map->breadcrumb().size(), 2);
        QCOMPARE(m_map->childList()->count(), 2);
        QVERIFY(m_map->childList()->item(0)->text().startsWith(QStringLiteral("фильм.mkv — ")));

        QTest::mouseMove(m_map->chart(), pointOf("Видео/фильм.mkv"));
        QTRY_VERIFY(m_map->hoverLabel()->text().startsWith(QStringLiteral("фильм.mkv — ")));

        m_map->breadcrumb().first()->click();
        QCOMPARE(m_map->focusPath(), m_fixture->home.home());

        // Keyboard: the first ring in turn, Return drills in, Backspace goes up.
        m_map->chart()->setFocus();
        QTest::keyClick(m_map->chart(), Qt::Key_Right);
        QCOMPARE(m_map->chart()->selected(), tree.largestChildren(0).first());
        QTest::keyClick(m_map->chart(), Qt::Key_Right);
        QCOMPARE(m_map->chart()->selected(), tree.largestChildren(0).at(1));
        QTest::keyClick(m_map->chart(), Qt::Key_Return);
        QCOMPARE(m_map->focusPath(), m_fixture->home.nativePath("Library"));
        QTest::keyClick(m_map->chart(), Qt::Key_Backspace);
        QCOMPARE(m_map->focusPath(), m_fixture->home.home());
        QCOMPARE(m_map->chart()->selected(), entry("Library"));
    }

    void mapTrashFromTheMenuAfterConfirmation()
    {
        makeMap();
        QMenu* videoMenu = m_map->menuFor(entry("Видео"));
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
        QMenu* cacheMenu = m_map->menuFor(entry("Library/Caches/com.example.tool"));
        QVERIFY(action(cacheMenu, QStringLiteral("Очистить"))->isEnabled());
        delete cacheMenu;
        m_map->breadcrumb().first()->click();

        const qint64 before = m_state->usageTree()->size(0);
        const QPoint at = pointOf("Документы");
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, m_map->chart()->mapToGlobal(at));
        QApplication::sendEvent(m_map->chart(), &event);
        QMenu* menu = m_map->findChild<QMenu*>(QStringLiteral("usageContextMenu"));
        QVERIFY(menu);

        m_bed->confirmer.answer = true;
        action(menu, QStringLiteral("Удалить в Корзину"))->trigger();
        QCOMPARE(m_bed->confirmer.requests.size(), 1);
        QCOMPARE(m_bed->confirmer.requests.first().title, QStringLiteral("Удалить в Корзину?"));
        // The map walks only what changed and loses the folder.
        QTRY_COMPARE_WITH_TIMEOUT(entry("Документы"), UsageTree::noNode, 20000);
        QVERIFY(m_state->usageTree()->size(0) < before - 200 * MiB);
        for (int row = 0; row < m_map->childList()->count(); ++row)
            QVERIFY(!m_map->childList()->item(row)->text().startsWith(QStringLiteral("Документы")));
    }

    void gaugeBands_data()
    {
        QTest::addColumn<int>("score");
        QTest::addColumn<QString>("label");
        // 0 accent, 1 orange, 2 red
        QTest::addColumn<int>("colour");
        QTest::newRow("49") << 49 << "Требует внимания" << 2;
        QTest::newRow("50") << 50 << "Средне" << 1;
        QTest::newRow("69") << 69 << "Средне" << 1;
        QTest::newRow("70") << 70 << "Хорошо" << 0;
        QTest::newRow("84") << 84 << "Хорошо" << 0;
        QTest::newRow("85") << 85 << "Отлично" << 0;
    }

    void gaugeBands()
    {
        QFETCH(int, score);
        QFETCH(QString, label);
        QFETCH(int, colour);
        for (const QPalette& palette : {Theme::lightPalette(), Theme::darkPalette()}) {
            const Theme theme(palette);
            const QColor expected = QList<QColor>{theme.accent(), theme.warning(), theme.danger()}.at(colour);
            QCOMPARE(HealthGauge::label(score), label);
            QCOMPARE(HealthGauge::colour(score, theme), expected);

            // The painted ring starts at its lower left in the band's colour, and
            // the number and word are drawn.
            HealthGauge gauge;
            gauge.setPalette(palette);
            gauge.resize(gauge.sizeHint());
            gauge.setScore(score);
            const QImage image = gauge.grab().toImage();
            const double radius = (gauge.width() - 12) / 2.0;
            const QPoint start(qRound(gauge.width() / 2.0 - radius * M_SQRT1_2 + 2),
                               qRound(gauge.height() / 2.0 + radius * M_SQRT1_2 - 2));
            const QColor painted = image.pixelColor(start);
            QVERIFY2(std::abs(painted.red() - expected.red()) <= 8 && std::abs(painted.green() - expected.green()) <= 8 &&
                         std::abs(painted.blue() - expected.blue()) <= 8,
                     qPrintable(painted.name() + QStringLiteral(" against ") + expected.name()));
            QCOMPARE(gauge.accessibleDescription(), QString::number(score) + QStringLiteral("% · ") + label);
        }
    }

    void healthBeforeAndAfterAScan()
    {
        m_fixture->sized(QStringLiteral("Downloads/Старый установщик.dmg"), 300 << 20);
        m_fixture->sized(QStringLiteral("Library/Caches/pip/колёса.bin"), 40 << 20);
        AppState& state = *m_state;
        MacHealthDashboardSection section(m_bed->services());
        section.resize(1000, 500);
        section.show();

        auto* scan = section.findChild<QPushButton*>(QStringLiteral("quickHealthScan"));
        QVERIFY(!section.findChild<QPushButton*>(QStringLiteral("repeatHealthScan"))->isVisible());
        scan->click();
        QVERIFY(state.isBusy());
        QVERIFY(!scan->isEnabled());
        QTRY_VERIFY(state.healthSnapshot().has_value() && !state.isBusy());

        const MacHealthSnapshot snapshot = *state.healthSnapshot();
        QVERIFY(!scan->isVisible());
        QCOMPARE(section.gauge()->score(), snapshot.healthPercent);
        QVERIFY(snapshot.itemCount >= 1);
        QCOMPARE(section.findChild<QLabel*>(QStringLiteral("found"))->text(), QString::number(snapshot.itemCount));
        QStringList tips;
        for (IconTextLine* line : section.findChildren<IconTextLine*>(QStringLiteral("healthTip")))
            tips.append(line->text());
        QCOMPARE(tips, snapshot.tips);
        QStringList facts;
        for (QLabel* fact : section.findChildren<QLabel*>(QStringLiteral("fact")))
            facts.append(fact->text());
        QCOMPARE(facts.size(), 6);
        QCOMPARE(facts.at(3), QString::number(snapshot.hardware.memoryGB) + QStringLiteral("\u00a0ГБ"));
        QVERIFY2(!facts.join(u' ').contains(QLatin1String("unknown")), qPrintable(facts.join(u' ')));

        QSignalSpy results(&section, &MacHealthDashboardSection::showResultsRequested);
        section.findChild<QPushButton*>(QStringLiteral("healthResults"))->click();
        QCOMPARE(results.count(), 1);
    }

private:
    // The size map over four sized files, built.
    void makeMap()
    {
        m_fixture->sized(QStringLiteral("Видео/фильм.mkv"), 900 * MiB);
        m_fixture->sized(QStringLiteral("Видео/клип.mp4"), 100 * MiB);
        m_fixture->sized(QStringLiteral("Документы/отчёт.pdf"), 250 * MiB);
        m_fixture->sized(QStringLiteral("Library/Caches/com.example.tool/blob"), 400 * MiB);
        m_map = std::make_unique<UsageMapView>(m_bed->services());
        m_map->resize(1000, 700);
        m_map->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_map.get()));
        m_map->buildButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(m_state->usageTree() && !m_state->isBusy(), 20000);
    }
    UsageTree::Index entry(const char* relative) const
    {
        return m_state->usageTree()->find(m_fixture->home.nativePath(relative));
    }
    // Where the chart draws the entry, in its own coordinates.
    QPoint pointOf(const char* relative) const
    {
        const std::optional<QPointF> at = m_map->chart()->pointOf(entry(relative));
        [&] { QVERIFY2(at, relative); }();
        return at.value_or(QPointF()).toPoint();
    }
    void clickEntry(const char* relative) { QTest::mouseClick(m_map->chart(), Qt::LeftButton, {}, pointOf(relative)); }

    std::unique_ptr<ViewTestBed> m_bed;
    AppFixture* m_fixture = nullptr;
    AppState* m_state = nullptr;
    std::unique_ptr<UsageMapView> m_map;
};

BRISKO_TEST(tst_OverviewPanels)
#include "tst_OverviewPanels.moc"
