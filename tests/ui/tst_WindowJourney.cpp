#include "BriskoTest.h"
#include "TestValues.h"
#include "GateTestBed.h"
#include "ScriptedConfirmer.h"
#include "ViewTestBed.h"

#include "ContentView.h"
#include "EULAAcceptanceView.h"
#include "FirstLaunchOnboardingView.h"
#include "LaunchLoadingView.h"
#include "MainWindow.h"
#include "OverviewSection.h"
#include "QuickScanCategoryButton.h"
#include "ScanItemFilterModel.h"
#include "ScanItemTableModel.h"
#include "ScanResultsView.h"
#include "server/AdService.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTest>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file gets its own bytes, so a swapped or truncated file shows.
QByteArray writeNoise(const QString& path, qint64 size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(bytes.data()), size / qint64(sizeof(quint32)));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != size)
        return {};
    return bytes;
}
} // namespace

// A new user's first session, driven only through the window: the region
// check, the agreement, the introduction with the archive folder chosen, a
// quick scan of large files in Downloads, picking rows by search and
// checkbox, the confirmed move to the archive, and its undo.
class tst_WindowJourney : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void newUserArchivesDownloadsAndUndoes();

private:
    void clickCheckbox(ScanResultsView* results, int row);

    std::unique_ptr<GateTestBed> m_bed;
    std::unique_ptr<AdService> m_ads;
    QTemporaryDir m_pictures;
    ScriptedConfirmer m_confirmer;
};

void tst_WindowJourney::init()
{
    m_bed = std::make_unique<GateTestBed>();
    QVERIFY(m_bed->listening);
    m_ads = std::make_unique<AdService>(nullptr, m_bed->fixture.store, m_pictures.path());
    m_confirmer = {};
}

void tst_WindowJourney::cleanup()
{
    m_ads.reset();
    m_bed.reset();
}

// A real click on the row's check indicator, where the item delegate looks for it.
void tst_WindowJourney::clickCheckbox(ScanResultsView* results, int row)
{
    QTableView* table = results->table();
    const QModelIndex index = results->filterModel()->index(row, ScanItemTableModel::nameColumn);
    QStyleOptionViewItem option;
    option.initFrom(table->viewport());
    option.rect = table->visualRect(index);
    option.features = QStyleOptionViewItem::HasCheckIndicator;
    const QRect check = table->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, table);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, check.center());
}

void tst_WindowJourney::newUserArchivesDownloadsAndUndoes()
{
    // Downloads with three files above a lowered threshold and one below it,
    // and an archive folder on another "disk" of the same temporary tree.
    TempHome& home = m_bed->fixture.home;
    const QString downloads = home.makeDir(QStringLiteral("Downloads"));
    const QStringList names{QStringLiteral("Отчёт за квартал.pdf"), QStringLiteral("Фильм о лете.mkv"),
                            QStringLiteral("Дистрибутив системы.iso")};
    QMap<QString, QByteArray> contents;
    for (int i = 0; i < names.size(); ++i) {
        contents[names[i]] = writeNoise(downloads + u'/' + names[i], (600 + 100 * i) * KiB, quint32(i + 1));
        QVERIFY(!contents[names[i]].isEmpty());
    }
    home.makeFile(QStringLiteral("Downloads/заметка.txt"), 8 * KiB);
    const QString archive = home.makeDir(QStringLiteral("Внешний диск/Архив"));
    m_bed->fixture.chooser->answer = FilePath::fromString(archive);
    AppSettings settings = m_bed->appState->settings();
    settings.largeFileThresholdMB = 0.5;
    m_bed->appState->setSettings(settings);

    WindowServices services = m_bed->services();
    services.ads = m_ads.get();
    services.confirmer = &m_confirmer;
    MainWindow window(services, [services] { return new ContentView(services); }, LaunchDuties{});
    RootGateView* gate = window.gate();
    QSignalSpy screens(gate, &RootGateView::screenChanged);

    // The region is asked first; the loading screen stands until it answers.
    window.show();
    QCOMPARE(gate->screen(), RootGateView::Screen::loading);
    QVERIFY(qobject_cast<LaunchLoadingView*>(gate->currentScreenWidget())->isVisible());
    QTRY_COMPARE(gate->screen(), RootGateView::Screen::agreement);
    QCOMPARE(m_bed->server.count(QStringLiteral("/api/brisko/region.php")), qsizetype(1));

    auto* agreement = qobject_cast<EULAAcceptanceView*>(gate->currentScreenWidget());
    QVERIFY(agreement && agreement->isVisible());
    QTest::mouseClick(agreement->acceptButton(), Qt::LeftButton);
    QCOMPARE(gate->screen(), RootGateView::Screen::introduction);
    QVERIFY(m_bed->appState->settings().eulaAccepted);

    // The introduction: welcome, the archive folder (chosen here), permissions.
    auto* introduction = qobject_cast<FirstLaunchOnboardingView*>(gate->currentScreenWidget());
    QVERIFY(introduction && introduction->isVisible());
    QTest::mouseClick(introduction->nextButton(), Qt::LeftButton);
    QCOMPARE(introduction->step(), 1);
    QTest::mouseClick(introduction->chooseFolderButton(), Qt::LeftButton);
    QCOMPARE(m_bed->appState->settings().archivePath, archive);
    QTest::mouseClick(introduction->nextButton(), Qt::LeftButton);
    QCOMPARE(introduction->step(), 2);
    QVERIFY(!introduction->nextButton()->isVisible());
    QTest::mouseClick(introduction->finishButton(), Qt::LeftButton);
    QCOMPARE(gate->screen(), RootGateView::Screen::content);
    const QList<RootGateView::Screen> seen{RootGateView::Screen::agreement, RootGateView::Screen::introduction,
                                           RootGateView::Screen::content};
    QCOMPARE(screens.size(), seen.size());
    for (int i = 0; i < seen.size(); ++i)
        QCOMPARE(screens[i].first().value<RootGateView::Screen>(), seen[i]);

    auto* content = qobject_cast<ContentView*>(gate->currentScreenWidget());
    QVERIFY(content && content->isVisible());
    QCOMPARE(content->selectedTab(), int(ContentView::overviewSection));

    // The quick scan finds the three large files and the window turns to them.
    QTest::mouseClick(content->overview()->quickScanButton(ScanCategory::largeLooseFiles), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(content->selectedTab(), int(ContentView::resultsSection), 20000);
    QTRY_VERIFY(!m_bed->appState->isBusy());
    ScanResultsView* results = content->results();
    QVERIFY(results->isVisible());
    QStringList found;
    for (const ScanItem& item : results->shownItems())
        found.append(item.name);
    found.sort();
    QStringList expectedNames = names;
    expectedNames.sort();
    QCOMPARE(found, expectedNames);
    QCOMPARE(results->moveButton()->text(), QStringLiteral("На архив (3)"));

    // Nothing chosen, then the film and the report picked by search and checkbox.
    QTest::mouseClick(results->selectNoneButton(), Qt::LeftButton);
    QCOMPARE(results->moveButton()->text(), QStringLiteral("На архив (0)"));
    QVERIFY(!results->moveButton()->isEnabled());
    const QStringList picked{QStringLiteral("Фильм о лете.mkv"), QStringLiteral("Отчёт за квартал.pdf")};
    for (const QString& search : {QStringLiteral("фильм"), QStringLiteral("ОТЧЁТ")}) {
        results->searchField()->clear();
        ViewTestBed::typeText(results->searchField(), search);
        QCOMPARE(results->searchField()->text(), search);
        QCOMPARE(results->filterModel()->rowCount(), 1);
        QVERIFY(results->shownItems().first().name.contains(search, Qt::CaseInsensitive));
        clickCheckbox(results, 0);
        QCOMPARE(results->filterModel()->index(0, ScanItemTableModel::nameColumn).data(Qt::CheckStateRole),
                 QVariant(Qt::Checked));
    }
    QCOMPARE(results->moveButton()->text(), QStringLiteral("На архив (2)"));
    results->searchField()->clear();
    QCOMPARE(results->filterModel()->rowCount(), 3);

    // The move asks first, then runs off the main thread.
    m_confirmer.answer = true;
    QVERIFY(results->moveButton()->isEnabled());
    // Clearing the search shows the actions again; their layout must be in
    // place before the click lands on the button.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QTest::mouseClick(results->moveButton(), Qt::LeftButton);
    QCOMPARE(m_confirmer.requests.size(), 1);
    QCOMPARE(m_confirmer.requests.first().confirmText, QStringLiteral("Перенести 2 элемента"));
    QVERIFY(m_confirmer.requests.first().message.endsWith(archive));
    QTRY_VERIFY_WITH_TIMEOUT(results->undoButton()->isVisible() && !m_bed->appState->isBusy(), 20000);
    QVERIFY(results->undoButton()->isEnabled());
    QCOMPARE(m_bed->appState->lastMoveResult()->moved, qint64(2));
    QCOMPARE(m_bed->appState->lastMoveResult()->failed, qint64(0));
    for (const QString& name : names) {
        const bool moved = picked.contains(name);
        QCOMPARE(QFile::exists(downloads + u'/' + name), !moved);
        QCOMPARE(QFile::exists(archive + u'/' + name), moved);
        QCOMPARE(readAll((moved ? archive : downloads) + u'/' + name), contents[name]);
    }
    // Only the file left behind is still listed.
    QCOMPARE(results->filterModel()->rowCount(), 1);
    QCOMPARE(results->shownItems().first().name, QStringLiteral("Дистрибутив системы.iso"));

    // Undo brings both back, byte for byte, and empties the archive again.
    QTest::mouseClick(results->undoButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!results->undoButton()->isVisible() && !m_bed->appState->isBusy(), 20000);
    QCOMPARE(m_bed->appState->lastMoveResult()->moved, qint64(2));
    QCOMPARE(m_bed->appState->lastMoveResult()->failed, qint64(0));
    for (const QString& name : names)
        QCOMPARE(readAll(downloads + u'/' + name), contents[name]);
    QCOMPARE(QDir(archive).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    QVERIFY(m_bed->fixture.errors->reports.isEmpty());
}

BRISKO_TEST(tst_WindowJourney)
#include "tst_WindowJourney.moc"
