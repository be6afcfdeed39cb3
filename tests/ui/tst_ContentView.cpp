#include "BriskoTest.h"
#include "TestValues.h"
#include "ViewTestBed.h"

#include "AdBannerView.h"
#include "ContentView.h"
#include "DiskCard.h"
#include "OverviewSection.h"
#include "QuickScanCategoryButton.h"
#include "ScanItemTableModel.h"
#include "ScanResultsView.h"
#include "SidebarItemButton.h"
#include "SidebarView.h"
#include "StatusBanner.h"
#include "Theme.h"
#include "app/AppState.h"
#include "server/AdService.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>

// The window's content over a real application state: the sidebar, the
// quick-scan rule, the overview, the banners and the Russian labels' widths.
class tst_ContentView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_ads.reset();
        m_bed = std::make_unique<ViewTestBed>();
        m_f = &m_bed->fixture;
        m_f->volumes->volumes = {
            {QStringLiteral("/Volumes/Внешний"), QStringLiteral("Внешний"), std::nullopt, 1000 * GiB, 900 * GiB},
            {QStringLiteral("/"), QStringLiteral("Система"), std::nullopt, 400 * GiB, 100 * GiB},
        };
    }
    void sidebarSwitchesSections()
    {
        auto view = makeView();
        auto* stack = view->findChild<QStackedWidget*>();
        QCOMPARE(stack->currentWidget(), view->overview());
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
        // The focus a window hands its first control when it opens.
        view->sidebar()->button(0)->setFocus(Qt::ActiveWindowFocusReason);
        QSignalSpy changed(view.get(), &ContentView::selectedTabChanged);
        for (int id : {1, 4, 2, 3, 0}) {
            SidebarItemButton* button = view->sidebar()->button(id);
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(view->selectedTab(), id);
            QCOMPARE(stack->currentIndex(), id);
            // One item looks current: the click leaves no focus ring on another,
            // not even on the first one, which the window focused when it opened.
            int looksCurrent = 0;
            for (int other = 0; other < stack->count(); ++other) {
                const SidebarItemButton* item = view->sidebar()->button(other);
                looksCurrent += item->isChecked() || item->showsFocusRing() ? 1 : 0;
            }
            QVERIFY(button->isChecked());
            QCOMPARE(looksCurrent, 1);
        }
        QCOMPARE(changed.size(), 5);
        view->sidebar()->button(1)->setFocus(Qt::TabFocusReason);
        QVERIFY(view->sidebar()->button(1)->showsFocusRing());
        QVERIFY(view->sidebar()->versionText().startsWith(QStringLiteral("Версия ")));
    }

    void onlyAQuickScanThatFindsSomethingSwitchesToResults()
    {
        m_f->sized(QStringLiteral("Downloads/мелочь.txt"), 1000);
        auto view = makeView();
        QSignalSpy changed(view.get(), &ContentView::selectedTabChanged);
        QuickScanCategoryButton* button = view->overview()->quickScanButton(ScanCategory::largeLooseFiles);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(view->selectedCategories(), ScanCategorySet{ScanCategory::largeLooseFiles});
        QVERIFY(button->isScanning());
        QVERIFY(!view->overview()->quickScanButton(ScanCategory::oldInstallers)->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!m_bed->state()->isBusy() && !button->isScanning(), 20000);
        QCoreApplication::processEvents();
        QCOMPARE(view->selectedTab(), 0);
        QVERIFY(button->isEnabled());

        m_f->sized(QStringLiteral("Downloads/Большой файл.iso"), 200 * MiB);
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(view->selectedTab(), 1, 20000);
        QCOMPARE(changed.size(), 1);
        QVERIFY(view->sidebar()->button(1)->isChecked());
        QCOMPARE(view->results()->tableModel()->rowCount(), 1);
    }

    void overviewFiguresVolumesAndTheirRefresh()
    {
        m_f->sized(QStringLiteral("Downloads/Отчёт.pdf"), 70 * MiB);
        m_f->sized(QStringLiteral("Downloads/видео.mov"), 90 * MiB);
        m_bed->scan(ScanCategory::largeLooseFiles);
        auto view = makeView();
        OverviewSection* overview = view->overview();
        QCOMPARE(overview->freedText(), QStringLiteral("Освобождено 0\u00a0байт"));
        // The primary volume is "/", not the external disk listed first.
        QCOMPARE(overview->diskFillText(), QStringLiteral("Диск 75% полон"));
        QCOMPARE(overview->resultsSummaryText(), QStringLiteral("2 элемента · 167,8\u00a0МБ"));
        // Without full-disk-access probes in the home folder, nothing is asked for.
        QVERIFY(!overview->fullDiskAccessBannerShown());

        const QList<DiskCard*> cards = overview->findChildren<DiskCard*>();
        QCOMPARE(cards.size(), 2);
        auto* noDisks = overview->findChild<QLabel*>(QStringLiteral("noDisks"));
        QVERIFY(!noDisks->isVisible());
        DiskCard* system = cards[0]->disk().name == QStringLiteral("Система") ? cards[0] : cards[1];
        QCOMPARE(system->freeText(), QStringLiteral("Свободно: 107,37\u00a0ГБ"));
        QCOMPARE(system->usedText(), QStringLiteral("Занято: 322,12\u00a0ГБ · 75%"));
        // The volumes go away; "Обновить" reads them again.
        m_f->volumes->volumes.clear();
        QTest::mouseClick(overview->findChild<QPushButton*>(QStringLiteral("refreshDisks")), Qt::LeftButton);
        QTRY_VERIFY(overview->findChildren<DiskCard*>().isEmpty());
        QVERIFY(noDisks->isVisible());
        QCOMPARE(noDisks->text(), QStringLiteral("Не удалось получить информацию о дисках"));
        QVERIFY(overview->diskFillText().isEmpty());

        QVERIFY(overview->findChild<QWidget*>(QStringLiteral("resultsRow"))->isVisible());
        QTest::mouseClick(overview->findChild<QPushButton*>(QStringLiteral("resultsLink")), Qt::LeftButton);
        QCOMPARE(view->selectedTab(), 1);
    }

    void statusBannerFollowsTheState()
    {
        m_f->sized(QStringLiteral("Downloads/a.iso"), 80 * MiB);
        auto view = makeView();
        StatusBanner* banner = view->statusBanner();
        QVERIFY(!banner->isVisible());
        QFuture<void> done = m_bed->state()->runScan({ScanCategory::largeLooseFiles});
        QVERIFY(banner->isVisible() && banner->isLoading());
        QTRY_VERIFY_WITH_TIMEOUT(done.isFinished(), 20000);
        QVERIFY(banner->isVisible() && !banner->isLoading());
        QCOMPARE(banner->message(), *m_bed->state()->statusMessage());
        QVERIFY(!banner->stopButton()->isVisible());

        // "Остановить" while it runs: the button waits for the scan to end.
        done = m_bed->state()->runScan({ScanCategory::largeLooseFiles});
        QCOMPARE(banner->stopButton()->text(), QStringLiteral("Остановить"));
        QTest::mouseClick(banner->stopButton(), Qt::LeftButton);
        QVERIFY(m_bed->state()->stopRequested());
        QVERIFY(!banner->stopButton()->isEnabled());
        QCOMPARE(banner->stopButton()->text(), QStringLiteral("Останавливаю…"));
        QTRY_VERIFY_WITH_TIMEOUT(done.isFinished(), 20000);
        QVERIFY(!banner->stopButton()->isVisible());
    }

    void adBannerCountsEachBannerOnceAndClicks()
    {
        auto view = makeView();
        auto* ad = view->findChild<AdBannerView*>();
        const AdItem first = m_ads->currentAd();
        QVERIFY(ad->isVisible());
        QCOMPARE(ad->shownAd(), first);
        QCOMPARE(ad->accessibleName(), first.title);
        // Built-in banners have no pictures: the mark in the smaller layout.
        QVERIFY(!ad->hasPicture());
        // Leaving and coming back to the overview does not count the same banner again.
        QTest::mouseClick(view->sidebar()->button(1), Qt::LeftButton);
        QTest::mouseClick(view->sidebar()->button(0), Qt::LeftButton);
        QCOMPARE(impressions(), QStringList{first.id});

        QTest::mouseClick(ad, Qt::LeftButton);
        QCOMPARE(m_f->usage->events.last().name, QStringLiteral("ad_click"));
        QCOMPARE(m_f->usage->events.last().metadata,
                 (QMap<QString, QString>{{QStringLiteral("ad_id"), first.id}, {QStringLiteral("url"), first.url}}));
        QCOMPARE(m_bed->workspace.opened, QList<QUrl>{QUrl(first.url)});
    }

    void russianLabelsFitTheirWidths()
    {
        auto view = makeView();
        // Quick-scan cards: the title on one line, the description within its
        // lines and the card, also after the desktop's font grows.
        const QFont desktopFont = QApplication::font();
        for (qreal scale : {1.0, 1.4}) {
            QFont font = desktopFont;
            font.setPointSizeF(desktopFont.pointSizeF() * scale);
            QApplication::setFont(font);
            for (ScanCategory category : ScanCategories::allCategories()) {
                QuickScanCategoryButton* button = view->overview()->quickScanButton(category);
                const QRect description = button->descriptionRect();
                QTRY_VERIFY(description.bottom() < button->height());
                if (scale > 1.0)
                    continue; // a large font may elide the texts; they only have to stay inside
                QVERIFY2(QFontMetrics(button->titleFont()).horizontalAdvance(button->title()) <= button->titleRect().width(),
                         qPrintable(button->title()));
                const QRect needed = QFontMetrics(Theme::of(button).captionFont()).boundingRect(
                    QRect(0, 0, description.width(), 10000), Qt::TextWordWrap, button->description());
                QVERIFY2(needed.height() <= description.height(), qPrintable(button->description()));
                QVERIFY(!button->accessibleName().isEmpty());
            }
        }
        QApplication::setFont(desktopFont);
        // Sidebar entries within the 220 px column, the search placeholder within
        // its fixed width, toolbar buttons at least as wide as their labels.
        for (const NavItem& item : view->sidebar()->items()) {
            SidebarItemButton* button = view->sidebar()->button(item.id);
            QVERIFY2(button->sizeHint().width() <= button->width(), qPrintable(item.title));
        }
        QLineEdit* search = view->results()->searchField();
        QVERIFY(search->fontMetrics().horizontalAdvance(search->placeholderText()) + 40 <= search->width());
        view->sidebar()->button(1)->click();
        for (QPushButton* button : view->results()->findChildren<QPushButton*>()) {
            if (button->isVisible())
                QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->text()));
        }
    }

private:
    std::unique_ptr<ContentView> makeView()
    {
        if (!m_ads)
            m_ads = std::make_unique<AdService>(nullptr, m_f->store, m_pictures.path());
        WindowServices services = m_bed->services();
        services.ads = m_ads.get();
        auto view = std::make_unique<ContentView>(services);
        view->resize(1300, 820);
        view->show();
        return view;
    }
    QStringList impressions() const
    {
        QStringList ids;
        for (const auto& e : m_f->usage->events) {
            if (e.name == QStringLiteral("ad_impression"))
                ids.append(e.metadata.value(QStringLiteral("ad_id")));
        }
        return ids;
    }

    std::unique_ptr<AdService> m_ads;
    std::unique_ptr<ViewTestBed> m_bed;
    AppFixture* m_f = nullptr;
    QTemporaryDir m_pictures;
};

BRISKO_TEST(tst_ContentView)
#include "tst_ContentView.moc"
