#include "BriskoTest.h"
#include "TestValues.h"
#include "ViewTestBed.h"

#include "ScanItemFilterModel.h"
#include "ScanItemTableModel.h"
#include "app/AppState.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

// The results table's two models over a real application state and real
// files: structure under QAbstractItemModelTester while results change,
// selection written through the state by item id, rows that vanish after an
// operation removed in place, and the category and search filter.
class tst_ScanItemTableModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { m_bed.reset(); }
    void rowsFollowTheStateUnderTheTester();
    void checkboxTogglesTheItemItShows();
    void movedRowsAreRemovedInPlace();
    void categoryAndSearchFilter();

private:
    void scan(ScanCategory category) { m_bed->scan(category); }
    std::unique_ptr<ViewTestBed> m_bed;
    AppFixture* m_f = nullptr;
    AppState* m_state = nullptr;
};

void tst_ScanItemTableModel::init()
{
    m_bed = std::make_unique<ViewTestBed>();
    m_f = &m_bed->fixture;
    m_f->sized(QStringLiteral("Downloads/Фильм.mkv"), 300 * MiB);
    m_f->sized(QStringLiteral("Downloads/архив.zip"), 120 * MiB);
    m_f->sized(QStringLiteral("Downloads/ОТЧЁТ-итог.pdf"), 80 * MiB);
    const FilePath odd = m_f->home.makeFileNative(QByteArray("Downloads/\xff\xfe-odd.bin"), 1);
    m_f->fs->setAllocatedSize(odd.native(), 60 * MiB);
    m_state = m_bed->state();
    m_bed->setArchivePath(m_f->home.filePath(QStringLiteral("Архив")));
}

void tst_ScanItemTableModel::rowsFollowTheStateUnderTheTester()
{
    ScanItemTableModel model(m_state);
    ScanItemFilterModel filter;
    filter.setSourceModel(&model);
    filter.sort(ScanItemTableModel::sizeColumn, Qt::AscendingOrder);
    QAbstractItemModelTester modelTester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester filterTester(&filter, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 0);

    scan(ScanCategory::largeLooseFiles);
    QCOMPARE(model.rowCount(), 4);
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
        if (!name.endsWith(QStringLiteral("-odd.bin")))
            names.append(name);
    }
    QCOMPARE(names, (QStringList{QStringLiteral("архив.zip"), QStringLiteral("ОТЧЁТ-итог.pdf"),
                                 QStringLiteral("Фильм.mkv")}));
    filter.sort(ScanItemTableModel::sizeColumn, Qt::AscendingOrder);

    // A new scan of another category replaces the rows.
    m_f->sized(QStringLiteral("Downloads/old.dmg"), 2 * MiB);
    scan(ScanCategory::downloadsInbox);
    QCOMPARE(model.rowCount(), 5);
    scan(ScanCategory::archiveCandidates);
    QCOMPARE(model.rowCount(), 0);
}

void tst_ScanItemTableModel::checkboxTogglesTheItemItShows()
{
    scan(ScanCategory::largeLooseFiles);
    ScanItemTableModel model(m_state);
    ScanItemFilterModel filter;
    filter.setSourceModel(&model);
    filter.sort(ScanItemTableModel::nameColumn, Qt::AscendingOrder);
    m_state->selectAll(m_state->scanItems(), false);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

    // The view's first row after sorting by name is not the state's first item.
    const QModelIndex first = filter.index(0, ScanItemTableModel::nameColumn);
    const QString name = first.data().toString();
    QVERIFY(name != m_state->scanItems().first().name);
    QVERIFY(filter.setData(first, Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(m_state->selectedItems().size(), 1);
    QCOMPARE(m_state->selectedItems().first().name, name);
    QCOMPARE(first.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
    // Checking a checked box changes nothing; unchecking it clears it.
    QVERIFY(filter.setData(first, Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(m_state->selectedItems().size(), 1);
    QVERIFY(filter.setData(first, Qt::Unchecked, Qt::CheckStateRole));
    QVERIFY(m_state->selectedItems().isEmpty());
    // Selection changes repaint rows; they never reset the table.
    QVERIFY(!changed.isEmpty());
    QCOMPARE(reset.size(), 0);
    QVERIFY(model.flags(model.index(0, ScanItemTableModel::nameColumn)) & Qt::ItemIsUserCheckable);
    QVERIFY(!(model.flags(model.index(0, ScanItemTableModel::sizeColumn)) & Qt::ItemIsUserCheckable));
}

void tst_ScanItemTableModel::movedRowsAreRemovedInPlace()
{
    scan(ScanCategory::largeLooseFiles);
    ScanItemTableModel model(m_state);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    // Move the second and the fourth row.
    m_state->selectAll(m_state->scanItems(), false);
    m_state->toggleSelection(m_state->scanItems()[1]);
    m_state->toggleSelection(m_state->scanItems()[3]);
    const QUuid kept0 = m_state->scanItems()[0].id;
    const QUuid kept2 = m_state->scanItems()[2].id;
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QFuture<void> done = m_state->moveSelectedToArchive();
    QTRY_VERIFY_WITH_TIMEOUT(done.isFinished(), 20000);
    QCOMPARE(m_state->lastMoveResult()->moved, 2);
    QCOMPARE(reset.size(), 0);
    QCOMPARE(removed.size(), 2);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.index(0, 0).data(ScanItemTableModel::itemIdRole).toUuid(), kept0);
    QCOMPARE(model.index(1, 0).data(ScanItemTableModel::itemIdRole).toUuid(), kept2);
}

void tst_ScanItemTableModel::categoryAndSearchFilter()
{
    scan(ScanCategory::largeLooseFiles);
    ScanItemTableModel model(m_state);
    ScanItemFilterModel filter;
    filter.setSourceModel(&model);
    QAbstractItemModelTester tester(&filter, QAbstractItemModelTester::FailureReportingMode::QtTest);

    filter.setCategory(ScanCategory::largeLooseFiles);
    QCOMPARE(filter.rowCount(), 4);
    filter.setCategory(ScanCategory::downloadsInbox);
    QCOMPARE(filter.rowCount(), 0);
    filter.setCategory(std::nullopt);
    QCOMPARE(filter.rowCount(), 4);

    // Case-insensitive in Cyrillic both ways, and names that are not UTF-8 stay searchable by their readable part.
    filter.setSearchText(QStringLiteral("отчёт"));
    QCOMPARE(filter.rowCount(), 1);
    QCOMPARE(filter.index(0, 0).data().toString(), QStringLiteral("ОТЧЁТ-итог.pdf"));
    filter.setSearchText(QStringLiteral("ФИЛЬМ"));
    QCOMPARE(filter.rowCount(), 1);
    filter.setSearchText(QStringLiteral("-odd"));
    QCOMPARE(filter.rowCount(), 1);
    filter.setCategory(ScanCategory::largeLooseFiles);
    filter.setSearchText(QStringLiteral("нет такого"));
    QCOMPARE(filter.rowCount(), 0);
    filter.setSearchText(QString());
    QCOMPARE(filter.rowCount(), 4);
}

BRISKO_TEST(tst_ScanItemTableModel)
#include "tst_ScanItemTableModel.moc"
