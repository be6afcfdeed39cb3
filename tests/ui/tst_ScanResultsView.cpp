#include "BriskoTest.h"
#include "TestValues.h"
#include "ViewTestBed.h"

#include "EmptyStateView.h"
#include "RevealButtonsDelegate.h"
#include "ScanItemFilterModel.h"
#include "ScanItemTableModel.h"
#include "ScanResultsView.h"
#include "app/AppState.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QToolButton>

// The results section over real files: what the toolbar offers, what it asks
// and what it calls; what the operations do is AppState's test. Below it, the
// table's models under QAbstractItemModelTester.
class tst_ScanResultsView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
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
    void cleanup() { m_bed.reset(); }
    void emptyStateWithoutResults()
    {
        auto view = makeView();
        QVERIFY(view->showsEmptyState());
        auto* empty = view->findChild<EmptyStateView*>(QStringLiteral("noResults"));
        QCOMPARE(empty->title(), QStringLiteral("Нет результатов"));
        QCOMPARE(empty->hint(), QStringLiteral("Запустите сканирование в разделе «Обзор»"));
        QCOMPARE(view->categoryPicker()->itemText(0), QStringLiteral("Все (0)"));
        QVERIFY(!view->moveButton()->isVisibleTo(view.get()));
        QVERIFY(!view->undoButton()->isVisibleTo(view.get()));
        m_bed->scan(ScanCategory::largeLooseFiles);
        QVERIFY(!view->showsEmptyState());
    }

    void filterAndSearchKeepTheWholeCounts()
    {
        m_bed->scan(ScanCategory::largeLooseFiles);
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
        // Names that are not UTF-8 stay searchable by their readable part.
        view->searchField()->setText(QStringLiteral("-odd"));
        QCOMPARE(view->table()->model()->rowCount(), 1);
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

    void movableResultsOfferMoveAndDeleteAfterAsking()
    {
        m_bed->scan(ScanCategory::largeLooseFiles);
        auto view = makeView();
        QVERIFY(view->moveButton()->isVisible() && view->deleteButton()->isVisible());
        QVERIFY(view->revealFolderButton()->isVisible());
        QVERIFY(!view->cleanButton()->isVisible());

        // Declined: asked with the figures, nothing happens.
        const ScanItemList before = m_state->scanItems();
        view->moveButton()->click();
        view->deleteButton()->click();
        QCOMPARE(m_bed->confirmer.requests.size(), 2);
        QCOMPARE(texts(m_bed->confirmer.requests[0]),
                 (QStringList{QStringLiteral("Перенести на архив?"),
                              QStringLiteral("Будет перенесено 503,3\u00a0МБ в: ") + m_state->settings().archivePath,
                              QStringLiteral("Перенести 3 элемента"), QStringLiteral("Отмена")}));
        QCOMPARE(texts(m_bed->confirmer.requests[1]),
                 (QStringList{QStringLiteral("Удалить в Корзину?"),
                              QStringLiteral("Выбранное (503,3\u00a0МБ) будет перемещено в Корзину. Восстановить можно из Finder."),
                              QStringLiteral("Удалить 3 элемента"), QStringLiteral("Отмена")}));
        QVERIFY(!m_bed->confirmer.requests[0].destructive && m_bed->confirmer.requests[1].destructive);
        QCoreApplication::processEvents();
        QVERIFY(!m_state->isBusy() && !m_state->undoAvailable());
        QCOMPARE(m_state->scanItems(), before);

        m_state->selectAll(m_state->scanItems(), false);
        QCOMPARE(view->moveButton()->text(), QStringLiteral("На архив (0)"));
        QVERIFY(!view->moveButton()->isEnabled() && !view->deleteButton()->isEnabled());
        QVERIFY(!view->revealFolderButton()->isEnabled());
        m_state->toggleSelection(m_state->scanItems().first());
        view->revealFolderButton()->click();
        QCOMPARE(m_f->workspace->revealed, QList<FilePath>{FilePath::fromString(m_movie)});

        // While anything runs, the controls wait.
        QFuture<void> running = m_state->runScan({ScanCategory::largeLooseFiles});
        QVERIFY(!view->moveButton()->isEnabled() && !view->selectAllButton()->isEnabled());
        QVERIFY(!view->table()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(running.isFinished(), 20000);
        QVERIFY(view->moveButton()->isEnabled() && view->table()->isEnabled());
    }

    void cacheResultsOfferOnlyCleaningTheSafeRows()
    {
        m_f->sized(QStringLiteral("Library/Caches/ru.keepcoder.Telegram/media/кэш.bin"), 300 * MiB);
        m_f->sized(QStringLiteral("Library/Application Support/ONEME/media/cache.db"), 300 * MiB);
        m_bed->scan(ScanCategory::appCaches);
        auto view = makeView();
        // However many rows are selected: only the clean action.
        m_state->selectAll(m_state->scanItems(), true);
        QVERIFY(view->cleanButton()->isVisible() && !view->moveButton()->isVisible());
        QVERIFY(!view->deleteButton()->isVisible() && !view->revealFolderButton()->isVisible());
        QCOMPARE(view->cleanButton()->text(), QStringLiteral("Очистить (1)"));
        QCOMPARE(m_state->selectedItems().size(), 2);
        // The cleanable row says so in its details.
        ScanItemTableModel* model = view->tableModel();
        int cleanable = 0;
        for (int row = 0; row < model->rowCount(); ++row) {
            const bool canClean = model->index(row, 0).data(ScanItemTableModel::cleanableRole).toBool();
            const QString detail = model->index(row, ScanItemTableModel::detailColumn).data().toString();
            QCOMPARE(detail.startsWith(QStringLiteral("Можно очистить")), canClean);
            cleanable += canClean ? 1 : 0;
        }
        QCOMPARE(cleanable, 1);
        m_state->selectAll(m_state->scanItems(), false);
        QCOMPARE(view->cleanButton()->text(), QStringLiteral("Очистить (0)"));
        QVERIFY(!view->cleanButton()->isEnabled());

        m_state->selectAll(m_state->scanItems(), true);
        m_bed->confirmer.answer = true;
        view->cleanButton()->click();
        QCOMPARE(m_bed->confirmer.requests.size(), 1);
        QCOMPARE(texts(m_bed->confirmer.requests[0]),
                 (QStringList{QStringLiteral("Очистить выбранное?"),
                              QStringLiteral("Будет удалено 314,6\u00a0МБ. Приложения пересоздадут кэши при необходимости."),
                              QStringLiteral("Очистить 1 элемент"), QStringLiteral("Отмена")}));
        QTRY_VERIFY_WITH_TIMEOUT(m_state->statusMessage().value_or(QString()).startsWith(QStringLiteral("Очищено: 1")),
                                 20000);
    }

    void checkedRowsMoveAndComeBack()
    {
        m_bed->scan(ScanCategory::largeLooseFiles);
        auto view = makeView();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        // Nothing chosen, then the zip picked by search and a real click on its
        // check indicator, where the item delegate looks for it.
        QTest::mouseClick(view->selectNoneButton(), Qt::LeftButton);
        ViewTestBed::typeText(view->searchField(), QStringLiteral("АРХИВ"));
        QCOMPARE(view->filterModel()->rowCount(), 1);
        QTableView* table = view->table();
        QStyleOptionViewItem option;
        option.initFrom(table->viewport());
        option.rect = table->visualRect(view->filterModel()->index(0, ScanItemTableModel::nameColumn));
        option.features = QStyleOptionViewItem::HasCheckIndicator;
        const QRect check = table->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, table);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, check.center());
        QCOMPARE(view->moveButton()->text(), QStringLiteral("На архив (1)"));
        view->searchField()->clear();

        // Clearing the search shows the actions again; their layout must be in
        // place before the click lands on the button.
        m_bed->confirmer.answer = true;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QTest::mouseClick(view->moveButton(), Qt::LeftButton);
        QCOMPARE(m_bed->confirmer.requests.first().confirmText, QStringLiteral("Перенести 1 элемент"));
        QTRY_VERIFY_WITH_TIMEOUT(view->undoButton()->isVisible() && !m_state->isBusy(), 20000);
        QCOMPARE(view->filterModel()->rowCount(), 2);
        QTest::mouseClick(view->undoButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!view->undoButton()->isVisible() && !m_state->isBusy(), 20000);
        QVERIFY(QFileInfo::exists(m_zip));
    }

    void rowButtonsRevealByItemAndAreNamed()
    {
        m_bed->scan(ScanCategory::largeLooseFiles);
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

        const QRect cell = table->visualRect(table->model()->index(1, ScanItemTableModel::actionsColumn));
        for (Button button : {Button::revealItem, Button::revealFolder})
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, RevealButtonsDelegate::buttonRect(cell, button).center());
        // Between the buttons nothing happens.
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, QPoint(cell.right() - 2, cell.center().y()));
        QCOMPARE(m_bed->workspace.revealed.size(), 2);
        QCOMPARE(m_bed->workspace.revealed[0].fileName(),
                 table->model()->index(1, ScanItemTableModel::nameColumn).data().toString());
        QCOMPARE(m_bed->workspace.revealed[1].toString(), m_f->home.filePath(QStringLiteral("Downloads")));
    }

    void modelsFollowTheStateUnderTheTester()
    {
        ScanItemTableModel model(m_state);
        ScanItemFilterModel filter;
        filter.setSourceModel(&model);
        filter.sort(ScanItemTableModel::sizeColumn, Qt::AscendingOrder);
        QAbstractItemModelTester modelTester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QAbstractItemModelTester filterTester(&filter, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.rowCount(), 0);

        m_bed->scan(ScanCategory::largeLooseFiles);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.index(0, ScanItemTableModel::nameColumn).data().toString(), QStringLiteral("Фильм.mkv"));
        QCOMPARE(model.index(0, ScanItemTableModel::sizeColumn).data().toString(), QStringLiteral("314,6\u00a0МБ"));
        QCOMPARE(model.index(0, ScanItemTableModel::folderColumn).data().toString(), QStringLiteral("~/Downloads"));
        // Sorted by bytes, not by the formatted text ("62,9 МБ" < "125,8 МБ").
        QCOMPARE(filter.index(0, ScanItemTableModel::sizeColumn).data(ScanItemTableModel::sizeRole).toLongLong(),
                 60 * MiB);
        // Names sort alphabetically, letter case aside.
        filter.sort(ScanItemTableModel::nameColumn, Qt::AscendingOrder);
        QStringList names;
        for (int row = 0; row < filter.rowCount(); ++row) {
            const QString name = filter.index(row, ScanItemTableModel::nameColumn).data().toString();
            if (!name.endsWith(QStringLiteral("-odd.iso")))
                names.append(name);
        }
        QCOMPARE(names, (QStringList{QStringLiteral("архив проекта.zip"), QStringLiteral("Фильм.mkv")}));

        // The check box of the row sorted first toggles the item it shows, not
        // the state's first item; selection repaints rows, never resets them.
        m_state->selectAll(m_state->scanItems(), false);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        const QModelIndex first = filter.index(0, ScanItemTableModel::nameColumn);
        const QString name = first.data().toString();
        QVERIFY(name != m_state->scanItems().first().name);
        QVERIFY(filter.setData(first, Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(m_state->selectedItems().first().name, name);
        QCOMPARE(first.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
        // Checking a checked box changes nothing; unchecking it clears it.
        QVERIFY(filter.setData(first, Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(m_state->selectedItems().size(), 1);
        QVERIFY(filter.setData(first, Qt::Unchecked, Qt::CheckStateRole));
        QVERIFY(m_state->selectedItems().isEmpty());
        QVERIFY(!changed.isEmpty());
        QCOMPARE(reset.size(), 0);
        QVERIFY(model.flags(model.index(0, ScanItemTableModel::nameColumn)) & Qt::ItemIsUserCheckable);
        QVERIFY(!(model.flags(model.index(0, ScanItemTableModel::sizeColumn)) & Qt::ItemIsUserCheckable));
        filter.sort(ScanItemTableModel::sizeColumn, Qt::AscendingOrder);
        m_bed->scan(ScanCategory::archiveCandidates);
        QCOMPARE(model.rowCount(), 0);

        // Rows that vanish after a move go in place, one run at a time: the
        // first and the third here.
        m_bed->scan(ScanCategory::largeLooseFiles);
        m_state->selectAll(m_state->scanItems(), false);
        m_state->toggleSelection(m_state->scanItems()[0]);
        m_state->toggleSelection(m_state->scanItems()[2]);
        const QUuid kept = m_state->scanItems()[1].id;
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        reset.clear();
        QFuture<void> done = m_state->moveSelectedToArchive();
        QTRY_VERIFY_WITH_TIMEOUT(done.isFinished(), 20000);
        QCOMPARE(std::pair(removed.size(), reset.size()), std::pair(qsizetype(2), qsizetype(0)));
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.index(0, 0).data(ScanItemTableModel::itemIdRole).toUuid(), kept);
    }

private:
    static QStringList texts(const ConfirmationRequest& r) { return {r.title, r.message, r.confirmText, r.cancelText}; }
    std::unique_ptr<ScanResultsView> makeView()
    {
        auto view = std::make_unique<ScanResultsView>(m_bed->services());
        view->resize(1080, 760);
        view->show();
        return view;
    }

    std::unique_ptr<ViewTestBed> m_bed;
    AppFixture* m_f = nullptr;
    AppState* m_state = nullptr;
    QString m_movie;
    QString m_zip;
};

BRISKO_TEST(tst_ScanResultsView)
#include "tst_ScanResultsView.moc"
