#include "BriskoTest.h"
#include "TestValues.h"
#include "ViewTestBed.h"

#include "EmptyStateView.h"
#include "RevealButtonsDelegate.h"
#include "ScanItemFilterModel.h"
#include "ScanItemTableModel.h"
#include "ScanResultsView.h"
#include "app/AppState.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

// The results section over real files: what the toolbar offers for movable
// and cache results, filter plus search, the three confirmations (declined:
// nothing happens; an accepted cleanup runs; the accepted move and its undo
// are the window journey's), the row buttons, and the empty state.
class tst_ScanResultsView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { m_bed.reset(); }
    void emptyStateWithoutResults();
    void filterAndSearchKeepTheWholeCounts();
    void movableResultsOfferMoveAndDelete();
    void cacheResultsOfferOnlyCleaningTheSafeRows();
    void declinedConfirmationsChangeNothing();
    void rowButtonsRevealByItemAndAreNamed();
    void controlsAreDisabledWhileBusy();

private:
    void scan(ScanCategory category) { m_bed->scan(category); }
    std::unique_ptr<ScanResultsView> makeView();

    std::unique_ptr<ViewTestBed> m_bed;
    AppFixture* m_f = nullptr;
    AppState* m_state = nullptr;
    QString m_movie;
    QString m_zip;
};

void tst_ScanResultsView::init()
{
    m_bed = std::make_unique<ViewTestBed>();
    m_f = &m_bed->fixture;
    m_movie = m_f->sized(QStringLiteral("Downloads/Фильм.mkv"), 300 * MiB);
    m_zip = m_f->sized(QStringLiteral("Downloads/архив проекта.zip"), 120 * MiB);
    const FilePath odd = m_f->home.makeFileNative(QByteArray("Downloads/\xff\xfe-odd.iso"), 1);
    m_f->fs->setAllocatedSize(odd.native(), 60 * MiB);
    m_state = m_bed->state();
    m_bed->setArchivePath(m_f->home.filePath(QStringLiteral("Архив")));
}

std::unique_ptr<ScanResultsView> tst_ScanResultsView::makeView()
{
    auto view = std::make_unique<ScanResultsView>(m_bed->services());
    view->resize(1080, 760);
    view->show();
    return view;
}

void tst_ScanResultsView::emptyStateWithoutResults()
{
    auto view = makeView();
    QVERIFY(view->showsEmptyState());
    auto* empty = view->findChild<EmptyStateView*>(QStringLiteral("noResults"));
    QCOMPARE(empty->title(), QStringLiteral("Нет результатов"));
    QCOMPARE(empty->hint(), QStringLiteral("Запустите сканирование в разделе «Обзор»"));
    QCOMPARE(view->categoryPicker()->itemText(0), QStringLiteral("Все (0)"));
    QVERIFY(view->moveButton()->isHidden() || !view->moveButton()->isVisibleTo(view.get()));
    QVERIFY(!view->undoButton()->isVisibleTo(view.get()));
    scan(ScanCategory::largeLooseFiles);
    QVERIFY(!view->showsEmptyState());
}

void tst_ScanResultsView::filterAndSearchKeepTheWholeCounts()
{
    scan(ScanCategory::largeLooseFiles);
    auto view = makeView();
    QComboBox* picker = view->categoryPicker();
    QCOMPARE(picker->itemText(0), QStringLiteral("Все (3)"));
    // The picker follows the scanned category.
    QCOMPARE(picker->currentText(), QStringLiteral("Крупные файлы в Downloads"));
    QCOMPARE(view->table()->model()->rowCount(), 3);

    view->searchField()->setText(QStringLiteral("ФИЛЬМ"));
    QCOMPARE(view->table()->model()->rowCount(), 1);
    QCOMPARE(view->shownItems().first().name, QStringLiteral("Фильм.mkv"));
    // "Выбрать все" / "Снять выбор" act on what is shown.
    view->selectNoneButton()->click();
    QCOMPARE(m_state->selectedItems().size(), 2);
    QCOMPARE(view->moveButton()->text(), QStringLiteral("На архив (2)"));
    view->selectAllButton()->click();
    QCOMPARE(m_state->selectedItems().size(), 3);

    // Nothing matches: said so, the whole counts stay, and nothing is
    // offered to act on rows the user cannot see.
    view->searchField()->setText(QStringLiteral("ничего похожего"));
    QCOMPARE(view->table()->model()->rowCount(), 0);
    QVERIFY(!view->showsEmptyState());
    QVERIFY(view->showsNoMatches());
    QCOMPARE(picker->itemText(0), QStringLiteral("Все (3)"));
    QVERIFY(!view->moveButton()->isVisible());
    QVERIFY(!view->deleteButton()->isVisible());
    view->searchField()->setText(QStringLiteral("фильм"));
    QVERIFY(!view->showsNoMatches());
    QVERIFY(view->moveButton()->isVisible());
    QCOMPARE(view->moveButton()->text(), QStringLiteral("На архив (3)"));

    // Another category shows nothing of these results, whatever the search.
    view->searchField()->clear();
    picker->setCurrentIndex(picker->findText(QStringLiteral("Старые установщики")));
    QCOMPARE(view->table()->model()->rowCount(), 0);
    picker->setCurrentIndex(0);
    QCOMPARE(view->table()->model()->rowCount(), 3);
}

void tst_ScanResultsView::movableResultsOfferMoveAndDelete()
{
    scan(ScanCategory::largeLooseFiles);
    auto view = makeView();
    QVERIFY(view->moveButton()->isVisible());
    QVERIFY(view->deleteButton()->isVisible());
    QVERIFY(view->revealFolderButton()->isVisible());
    QVERIFY(!view->cleanButton()->isVisible());

    m_state->selectAll(m_state->scanItems(), false);
    QCOMPARE(view->moveButton()->text(), QStringLiteral("На архив (0)"));
    QVERIFY(!view->moveButton()->isEnabled());
    QVERIFY(!view->deleteButton()->isEnabled());
    QVERIFY(!view->revealFolderButton()->isEnabled());
    m_state->toggleSelection(m_state->scanItems().first());
    QVERIFY(view->revealFolderButton()->isEnabled());
    view->revealFolderButton()->click();
    QCOMPARE(m_f->workspace->revealed.size(), 1);
    QCOMPARE(m_f->workspace->revealed.first().toString(), m_movie);
}

void tst_ScanResultsView::cacheResultsOfferOnlyCleaningTheSafeRows()
{
    const QString telegram = m_f->sized(QStringLiteral("Library/Caches/ru.keepcoder.Telegram/media/кэш.bin"), 300 * MiB);
    const QString oneme = m_f->sized(QStringLiteral("Library/Application Support/ONEME/media/cache.db"), 300 * MiB);
    scan(ScanCategory::appCaches);
    QVERIFY(m_state->activeScanCategoryIsReadOnly());
    auto view = makeView();
    // However many rows are selected: only the clean action.
    m_state->selectAll(m_state->scanItems(), true);
    QVERIFY(view->cleanButton()->isVisible());
    QVERIFY(!view->moveButton()->isVisible());
    QVERIFY(!view->deleteButton()->isVisible());
    QVERIFY(!view->revealFolderButton()->isVisible());
    QCOMPARE(view->cleanButton()->text(),
             QStringLiteral("Очистить (") + QString::number(m_state->selectedCleanableScanItems().size())
                 + QStringLiteral(")"));
    QVERIFY(m_state->selectedCleanableScanItems().size() < m_state->selectedItems().size());
    // The cleanable row says so in its details.
    ScanItemTableModel* model = view->tableModel();
    int cleanable = 0;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QString detail = model->index(row, ScanItemTableModel::detailColumn).data().toString();
        if (model->index(row, 0).data(ScanItemTableModel::cleanableRole).toBool()) {
            QVERIFY(detail.startsWith(QStringLiteral("Можно очистить")));
            ++cleanable;
        } else {
            QVERIFY(!detail.contains(QStringLiteral("Можно очистить")));
        }
    }
    QCOMPARE(cleanable, 1);
    m_state->selectAll(m_state->scanItems(), false);
    QCOMPARE(view->cleanButton()->text(), QStringLiteral("Очистить (0)"));
    QVERIFY(!view->cleanButton()->isEnabled());

    m_state->selectAll(m_state->scanItems(), true);
    m_bed->confirmer.answer = true;
    view->cleanButton()->click();
    QCOMPARE(m_bed->confirmer.requests.size(), 1);
    QCOMPARE(m_bed->confirmer.requests[0].title, QStringLiteral("Очистить выбранное?"));
    QCOMPARE(m_bed->confirmer.requests[0].message,
             QStringLiteral("Будет удалено 314,6\u00a0МБ. Приложения пересоздадут кэши при необходимости."));
    QCOMPARE(m_bed->confirmer.requests[0].confirmText, QStringLiteral("Очистить 1 элемент"));
    QTRY_VERIFY_WITH_TIMEOUT(m_state->statusMessage().value_or(QString()).startsWith(QStringLiteral("Очищено: 1")),
                             20000);
    QVERIFY(!QFileInfo::exists(telegram));
    QVERIFY(QFileInfo::exists(oneme));
}

void tst_ScanResultsView::declinedConfirmationsChangeNothing()
{
    scan(ScanCategory::largeLooseFiles);
    auto view = makeView();
    m_bed->confirmer.answer = false;
    const ScanItemList before = m_state->scanItems();

    view->moveButton()->click();
    view->deleteButton()->click();
    QCOMPARE(m_bed->confirmer.requests.size(), 2);
    const ConfirmationRequest& move = m_bed->confirmer.requests[0];
    QCOMPARE(move.title, QStringLiteral("Перенести на архив?"));
    QCOMPARE(move.message, QStringLiteral("Будет перенесено 503,3\u00a0МБ в: ") + m_state->settings().archivePath);
    QCOMPARE(move.confirmText, QStringLiteral("Перенести 3 элемента"));
    QCOMPARE(move.cancelText, QStringLiteral("Отмена"));
    QVERIFY(!move.destructive);
    const ConfirmationRequest& remove = m_bed->confirmer.requests[1];
    QCOMPARE(remove.title, QStringLiteral("Удалить в Корзину?"));
    QCOMPARE(remove.message,
             QStringLiteral("Выбранное (503,3\u00a0МБ) будет перемещено в Корзину. Восстановить можно из Finder."));
    QCOMPARE(remove.confirmText, QStringLiteral("Удалить 3 элемента"));
    QVERIFY(remove.destructive);

    QCoreApplication::processEvents();
    QVERIFY(!m_state->isBusy());
    QCOMPARE(m_state->scanItems(), before);
    QVERIFY(QFileInfo::exists(m_movie));
    QVERIFY(QFileInfo::exists(m_zip));
    QVERIFY(!m_state->undoAvailable());
}

void tst_ScanResultsView::rowButtonsRevealByItemAndAreNamed()
{
    scan(ScanCategory::largeLooseFiles);
    auto view = makeView();
    // Sort by name so view rows and state order differ.
    view->table()->sortByColumn(ScanItemTableModel::nameColumn, Qt::AscendingOrder);
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    QTableView* table = view->table();
    // No widget per row: the buttons are painted by the column's delegate.
    QVERIFY(table->findChildren<QToolButton*>().isEmpty());
    QCOMPARE(table->itemDelegateForColumn(ScanItemTableModel::actionsColumn), view->revealDelegate());
    using Button = RevealButtonsDelegate::Button;
    QCOMPARE(view->revealDelegate()->text(Button::revealItem), QStringLiteral("Показать элемент в Finder"));
    QCOMPARE(view->revealDelegate()->text(Button::revealFolder), QStringLiteral("Показать папку в Finder"));

    const auto click = [table](int row, Button button) {
        const QRect cell = table->visualRect(table->model()->index(row, ScanItemTableModel::actionsColumn));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          RevealButtonsDelegate::buttonRect(cell, button).center());
    };
    const QString shownName = table->model()->index(1, ScanItemTableModel::nameColumn).data().toString();
    click(1, Button::revealItem);
    click(1, Button::revealFolder);
    // Between the buttons nothing happens.
    const QRect cell = table->visualRect(table->model()->index(1, ScanItemTableModel::actionsColumn));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, QPoint(cell.right() - 2, cell.center().y()));
    QCOMPARE(m_bed->workspace.revealed.size(), 2);
    QCOMPARE(m_bed->workspace.revealed[0].fileName(), shownName);
    QCOMPARE(m_bed->workspace.revealed[1].toString(), m_f->home.filePath(QStringLiteral("Downloads")));
}

void tst_ScanResultsView::controlsAreDisabledWhileBusy()
{
    scan(ScanCategory::largeLooseFiles);
    auto view = makeView();
    QVERIFY(view->moveButton()->isEnabled());
    QFuture<void> running = m_state->runScan({ScanCategory::largeLooseFiles});
    QVERIFY(m_state->isBusy());
    QVERIFY(!view->moveButton()->isEnabled());
    QVERIFY(!view->selectAllButton()->isEnabled());
    QVERIFY(!view->table()->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(running.isFinished(), 20000);
    QVERIFY(view->moveButton()->isEnabled());
    QVERIFY(view->table()->isEnabled());
}

BRISKO_TEST(tst_ScanResultsView)
#include "tst_ScanResultsView.moc"
