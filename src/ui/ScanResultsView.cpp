#include "ScanResultsView.h"

#include "Confirmer.h"
#include "EmptyStateView.h"
#include "IconSet.h"
#include "PageTemplate.h"
#include "RevealButtonsDelegate.h"
#include "ScanItemFilterModel.h"
#include "ScanItemTableModel.h"
#include "Theme.h"
#include "WindowHomeLayout.h"
#include "app/AppState.h"
#include "base/ByteCountFormatter.h"
#include "base/RussianPlural.h"
#include "platform/Workspace.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace {
qint64 totalSize(const ScanItemList& items)
{
    qint64 total = 0;
    for (const ScanItem& item : items)
        total += item.size;
    return total;
}

QPushButton* toolbarButton(const QString& text, const QString& symbol, QWidget* parent)
{
    const Theme theme = Theme::of(parent);
    auto* button = new QPushButton(text, parent);
    if (!symbol.isEmpty())
        button->setIcon(IconSet::icon(symbol, theme.text(), theme.secondaryText()));
    button->setAutoDefault(false);
    return button;
}
} // namespace

ScanResultsView::ScanResultsView(const WindowServices& services, QWidget* parent)
    : QWidget(parent)
    , m_services(services)
{
    setObjectName(QStringLiteral("resultsSection"));
    const Theme theme = Theme::of(this);
    m_model = new ScanItemTableModel(m_services.appState, this);
    m_filter = new ScanItemFilterModel(this);
    m_filter->setSourceModel(m_model);

    auto* layout = new QVBoxLayout(this);
    PageTemplate::applyColumn(layout);
    // The toolbar, actions and table belong together: closer than groups.
    layout->setSpacing(Theme::spacing);

    QHBoxLayout* header = PageTemplate::addTitleRow(layout, this, QStringLiteral("Результаты"));
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("resultsSummary"));
    m_summary->setForegroundRole(QPalette::PlaceholderText);
    header->addWidget(m_summary, 0, Qt::AlignBottom);
    layout->addWidget(buildToolbar());
    layout->addWidget(buildActions());

    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("resultsTable"));
    m_table->setModel(m_filter);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->setShowGrid(false);
    m_table->setWordWrap(false);
    // Cut at the end: every cut text is whole in its tooltip.
    m_table->setTextElideMode(Qt::ElideRight);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(30);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(ScanItemTableModel::sizeColumn, Qt::DescendingOrder);
    QHeaderView* columns = m_table->horizontalHeader();
    columns->setHighlightSections(false);
    // The details are the longest texts; they take the spare width.
    columns->setSectionResizeMode(ScanItemTableModel::nameColumn, QHeaderView::Interactive);
    columns->setSectionResizeMode(ScanItemTableModel::sizeColumn, QHeaderView::Fixed);
    columns->setSectionResizeMode(ScanItemTableModel::detailColumn, QHeaderView::Stretch);
    columns->setSectionResizeMode(ScanItemTableModel::folderColumn, QHeaderView::Interactive);
    columns->setSectionResizeMode(ScanItemTableModel::actionsColumn, QHeaderView::Fixed);
    columns->resizeSection(ScanItemTableModel::nameColumn, 260);
    columns->resizeSection(ScanItemTableModel::sizeColumn, 96);
    columns->resizeSection(ScanItemTableModel::folderColumn, 180);
    columns->resizeSection(ScanItemTableModel::actionsColumn, 76);
    m_reveal = new RevealButtonsDelegate(layoutTexts(), m_table);
    m_table->setItemDelegateForColumn(ScanItemTableModel::actionsColumn, m_reveal);
    connect(m_reveal, &RevealButtonsDelegate::revealItemClicked, this, [this](const QUuid& id) { revealItem(id, false); });
    connect(m_reveal, &RevealButtonsDelegate::revealFolderClicked, this,
            [this](const QUuid& id) { revealItem(id, true); });

    m_empty = new EmptyStateView(QStringLiteral("Нет результатов"),
                                 QStringLiteral("Запустите сканирование в разделе «Обзор»"), this);
    m_empty->setObjectName(QStringLiteral("noResults"));
    m_noMatches = new EmptyStateView(QStringLiteral("Ничего не найдено"),
                                     QStringLiteral("Измените запрос поиска или выберите другую категорию"), this);
    m_noMatches->setObjectName(QStringLiteral("noMatches"));
    m_stack = new QStackedWidget(this);
    m_stack->addWidget(m_table);
    m_stack->addWidget(m_empty);
    m_stack->addWidget(m_noMatches);
    layout->addWidget(m_stack, 1);

    connect(m_table, &QTableView::customContextMenuRequested, this, &ScanResultsView::showContextMenu);
    // What is shown decides the empty states and whether actions are offered.
    connect(m_filter, &QAbstractItemModel::rowsInserted, this, &ScanResultsView::refreshShownState);
    connect(m_filter, &QAbstractItemModel::rowsRemoved, this, &ScanResultsView::refreshShownState);
    connect(m_filter, &QAbstractItemModel::modelReset, this, &ScanResultsView::refreshShownState);
    connect(m_filter, &QAbstractItemModel::layoutChanged, this, &ScanResultsView::refreshShownState);

    if (AppState* state = m_services.appState) {
        connect(state, &AppState::scanItemsChanged, this, &ScanResultsView::refreshActions);
        connect(state, &AppState::scanItemsChanged, this, &ScanResultsView::refreshCategoryPicker);
        connect(state, &AppState::lastScanCategoriesChanged, this, &ScanResultsView::refreshActions);
        connect(state, &AppState::undoAvailableChanged, this, &ScanResultsView::refreshActions);
        connect(state, &AppState::busyChanged, this, &ScanResultsView::refreshActions);
        connect(state, &AppState::settingsChanged, this, &ScanResultsView::refreshCategoryPicker);
        connect(state, &AppState::selectedCategoryChanged, this, &ScanResultsView::followSelectedCategory);
    }
    refreshCategoryPicker();
    followSelectedCategory();
    refreshActions();
}

QWidget* ScanResultsView::buildToolbar()
{
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("resultsToolbar"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(Theme::smallSpacing);
    auto* label = new QLabel(QStringLiteral("Категория"), bar);
    m_category = new QComboBox(bar);
    m_category->setObjectName(QStringLiteral("categoryPicker"));
    m_category->setAccessibleName(QStringLiteral("Категория"));
    m_category->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    label->setBuddy(m_category);
    connect(m_category, &QComboBox::currentIndexChanged, this, [this](int index) {
        const QVariant data = m_category->itemData(index);
        m_filter->setCategory(data.isValid() ? std::optional<ScanCategory>(ScanCategory(data.toInt()))
                                             : std::nullopt);
    });
    m_selectAll = toolbarButton(QStringLiteral("Выбрать все"), {}, bar);
    m_selectNone = toolbarButton(QStringLiteral("Снять выбор"), {}, bar);
    connect(m_selectAll, &QPushButton::clicked, this, [this] {
        if (m_services.appState)
            m_services.appState->selectAll(shownItems(), true);
    });
    connect(m_selectNone, &QPushButton::clicked, this, [this] {
        if (m_services.appState)
            m_services.appState->selectAll(shownItems(), false);
    });
    m_search = new QLineEdit(bar);
    m_search->setObjectName(QStringLiteral("resultsSearch"));
    m_search->setPlaceholderText(QStringLiteral("Поиск…"));
    m_search->setAccessibleName(QStringLiteral("Поиск"));
    m_search->setClearButtonEnabled(true);
    m_search->setFixedWidth(240);
    const Theme theme = Theme::of(this);
    m_search->addAction(IconSet::icon(QStringLiteral("magnifyingglass"), theme.secondaryText()),
                        QLineEdit::LeadingPosition);
    connect(m_search, &QLineEdit::textChanged, m_filter, &ScanItemFilterModel::setSearchText);

    row->addWidget(label);
    row->addWidget(m_category);
    row->addSpacing(Theme::spacing);
    row->addWidget(m_selectAll);
    row->addWidget(m_selectNone);
    row->addStretch(1);
    row->addWidget(m_search);
    return bar;
}

QWidget* ScanResultsView::buildActions()
{
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("resultsActions"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(Theme::smallSpacing);
    m_actions = new QWidget(bar);
    auto* actions = new QHBoxLayout(m_actions);
    actions->setContentsMargins(0, 0, 0, 0);
    actions->setSpacing(Theme::smallSpacing);
    m_revealFolder = toolbarButton(QStringLiteral("Показать папку"), QStringLiteral("folder"), m_actions);
    m_revealFolder->setToolTip(layoutTexts().revealParentHelp);
    m_move = toolbarButton(QString(), QStringLiteral("externaldrive.badge.plus"), m_actions);
    m_move->setObjectName(QStringLiteral("moveButton"));
    m_delete = toolbarButton(QString(), QStringLiteral("trash.fill"), m_actions);
    m_delete->setObjectName(QStringLiteral("deleteButton"));
    m_delete->setToolTip(QStringLiteral("Переместить выбранное в Корзину"));
    m_clean = toolbarButton(QString(), QStringLiteral("trash.fill"), m_actions);
    m_clean->setObjectName(QStringLiteral("cleanButton"));
    m_clean->setToolTip(QStringLiteral("Удалить безопасные кэши с диска"));
    actions->addWidget(m_revealFolder);
    actions->addWidget(m_move);
    actions->addWidget(m_delete);
    actions->addWidget(m_clean);
    m_undo = toolbarButton(QStringLiteral("Отменить перенос"), QStringLiteral("arrow.uturn.backward"), bar);
    m_undo->setObjectName(QStringLiteral("undoButton"));
    connect(m_revealFolder, &QPushButton::clicked, this, [this] {
        if (m_services.appState)
            m_services.appState->revealParentFolderForSelection();
    });
    connect(m_move, &QPushButton::clicked, this, &ScanResultsView::requestMove);
    connect(m_delete, &QPushButton::clicked, this, &ScanResultsView::requestDelete);
    connect(m_clean, &QPushButton::clicked, this, &ScanResultsView::requestCleanup);
    connect(m_undo, &QPushButton::clicked, this, [this] {
        if (m_services.appState)
            m_services.appState->undoLastMove();
    });
    row->addWidget(m_actions);
    row->addStretch(1);
    row->addWidget(m_undo);
    return bar;
}

ScanItemList ScanResultsView::shownItems() const
{
    ScanItemList items;
    for (int row = 0; row < m_filter->rowCount(); ++row) {
        const QModelIndex source = m_filter->mapToSource(m_filter->index(row, 0));
        if (std::optional<ScanItem> item = m_model->itemAt(source.row()))
            items.append(*item);
    }
    return items;
}

bool ScanResultsView::showsEmptyState() const
{
    return m_stack->currentWidget() == m_empty;
}

bool ScanResultsView::showsNoMatches() const
{
    return m_stack->currentWidget() == m_noMatches;
}

void ScanResultsView::refreshCategoryPicker()
{
    const QVariant current = m_category->currentData();
    const AppSettings* settings = m_services.appState ? &m_services.appState->settings() : nullptr;
    const qsizetype count = m_services.appState ? m_services.appState->scopedScanItems().size() : 0;
    QSignalBlocker block(m_category);
    m_category->clear();
    m_category->addItem(QStringLiteral("Все (") + QString::number(count) + QStringLiteral(")"));
    for (ScanCategory category : ScanCategories::allCategories())
        m_category->addItem(ScanCategories::title(category, settings), int(category));
    const int index = current.isValid() ? m_category->findData(current) : 0;
    m_category->setCurrentIndex(index < 0 ? 0 : index);
}

void ScanResultsView::followSelectedCategory()
{
    const std::optional<ScanCategory> category =
        m_services.appState ? m_services.appState->selectedCategory() : std::nullopt;
    const int index = category ? m_category->findData(int(*category)) : 0;
    // Setting the index runs the picker's handler, which sets the filter.
    m_category->setCurrentIndex(index < 0 ? 0 : index);
    m_filter->setCategory(category);
}

void ScanResultsView::refreshActions()
{
    const AppState* state = m_services.appState;
    const bool busy = !state || state->isBusy();
    const ScanItemList scoped = state ? state->scopedScanItems() : ScanItemList();
    const bool readOnly = state && state->activeScanCategoryIsReadOnly();
    const qsizetype archiveCount = state ? state->selectedArchiveItems().size() : 0;
    const qsizetype cleanCount = state ? state->selectedCleanableScanItems().size() : 0;
    const bool anySelected = state && !state->selectedItems().isEmpty();

    m_summary->setText(scoped.isEmpty() ? QString()
                                        : RussianPlural::count(scoped.size(), RussianPlural::items) + QStringLiteral(" · ")
                                              + ByteCountFormatter::format(totalSize(scoped)));
    m_revealFolder->setVisible(!readOnly);
    m_move->setVisible(!readOnly);
    m_delete->setVisible(!readOnly);
    m_clean->setVisible(readOnly);
    m_move->setText(QStringLiteral("На архив (") + QString::number(archiveCount) + QStringLiteral(")"));
    m_delete->setText(QStringLiteral("Удалить (") + QString::number(archiveCount) + QStringLiteral(")"));
    m_clean->setText(QStringLiteral("Очистить (") + QString::number(cleanCount) + QStringLiteral(")"));
    m_revealFolder->setEnabled(!busy && anySelected);
    m_move->setEnabled(!busy && archiveCount > 0);
    m_delete->setEnabled(!busy && archiveCount > 0);
    m_clean->setEnabled(!busy && cleanCount > 0);
    m_undo->setVisible(state && state->undoAvailable());
    m_undo->setEnabled(!busy);
    m_selectAll->setEnabled(!busy && !scoped.isEmpty());
    m_selectNone->setEnabled(!busy && !scoped.isEmpty());
    m_category->setEnabled(!busy);
    m_table->setEnabled(!busy);
    refreshShownState();
}

void ScanResultsView::refreshShownState()
{
    const bool anyResults = m_model->rowCount() > 0;
    const bool anyShown = m_filter->rowCount() > 0;
    // Actions count rows the user can see; with none shown there is nothing to act on.
    m_actions->setVisible(anyShown);
    QWidget* page = anyShown ? static_cast<QWidget*>(m_table) : anyResults ? m_noMatches : m_empty;
    m_stack->setCurrentWidget(page);
}

void ScanResultsView::revealItem(const QUuid& id, bool folder)
{
    const std::optional<ScanItem> item = m_model->itemWithId(id);
    if (!item || !m_services.workspace)
        return;
    m_services.workspace->revealFile(folder ? item->path.parent() : item->path);
}

void ScanResultsView::selectForAction(const QUuid& id)
{
    if (!m_services.appState)
        return;
    for (const ScanItem& entry : m_services.appState->scanItems()) {
        if (entry.id == id && !entry.isSelected) {
            m_services.appState->toggleSelection(entry);
            return;
        }
    }
}

void ScanResultsView::showContextMenu(const QPoint& position)
{
    const QModelIndex index = m_table->indexAt(position);
    if (!index.isValid())
        return;
    const QUuid id = index.data(ScanItemTableModel::itemIdRole).toUuid();
    const AppState* state = m_services.appState;
    const bool canAct = state && !state->isBusy() && !state->activeScanCategoryIsReadOnly();

    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setObjectName(QStringLiteral("resultsContextMenu"));
    connect(menu->addAction(layoutTexts().revealItem), &QAction::triggered, this,
            [this, id] { revealItem(id, false); });
    connect(menu->addAction(QStringLiteral("Показать папку")), &QAction::triggered, this,
            [this, id] { revealItem(id, true); });
    menu->addSeparator();
    QAction* move = menu->addAction(QStringLiteral("Перенести на архив"));
    QAction* remove = menu->addAction(QStringLiteral("Удалить в Корзину"));
    move->setEnabled(canAct);
    remove->setEnabled(canAct);
    // The row joins the selection, then the usual confirmation asks about all of it.
    connect(move, &QAction::triggered, this, [this, id] {
        selectForAction(id);
        requestMove();
    });
    connect(remove, &QAction::triggered, this, [this, id] {
        selectForAction(id);
        requestDelete();
    });
    menu->popup(m_table->viewport()->mapToGlobal(position));
}

// The three confirmations differ only in their texts and the operation they
// start; the operation runs only if the state outlived the question.
void ScanResultsView::confirmThen(const ScanItemList& items, ConfirmationRequest request,
                                  QFuture<void> (AppState::*operation)())
{
    if (items.isEmpty() || !m_services.appState || !m_services.confirmer)
        return;
    QPointer<AppState> guard(m_services.appState);
    m_services.confirmer->confirm(this, request, [guard, operation](bool confirmed) {
        if (confirmed && guard)
            (guard.data()->*operation)();
    });
}

void ScanResultsView::requestMove()
{
    if (!m_services.appState)
        return;
    const ScanItemList items = m_services.appState->selectedArchiveItems();
    ConfirmationRequest request;
    request.title = QStringLiteral("Перенести на архив?");
    request.message = QStringLiteral("Будет перенесено ") + ByteCountFormatter::format(totalSize(items))
                      + QStringLiteral(" в: ") + m_services.appState->settings().archivePath;
    request.confirmText = QStringLiteral("Перенести ") + RussianPlural::count(items.size(), RussianPlural::items);
    confirmThen(items, request, &AppState::moveSelectedToArchive);
}

void ScanResultsView::requestCleanup()
{
    if (!m_services.appState)
        return;
    const ScanItemList items = m_services.appState->selectedCleanableScanItems();
    ConfirmationRequest request;
    request.title = QStringLiteral("Очистить выбранное?");
    request.message = QStringLiteral("Будет удалено ") + ByteCountFormatter::format(totalSize(items))
                      + QStringLiteral(". Приложения пересоздадут кэши при необходимости.");
    request.confirmText = QStringLiteral("Очистить ") + RussianPlural::count(items.size(), RussianPlural::items);
    confirmThen(items, request, &AppState::runSelectedScanCleanup);
}

LayoutTexts ScanResultsView::layoutTexts() const
{
    return windowHomeLayout(m_services.appState).texts();
}

void ScanResultsView::requestDelete()
{
    if (!m_services.appState)
        return;
    const ScanItemList items = m_services.appState->selectedArchiveItems();
    ConfirmationRequest request;
    request.title = QStringLiteral("Удалить в Корзину?");
    request.message = QStringLiteral("Выбранное (") + ByteCountFormatter::format(totalSize(items))
                      + QStringLiteral(") будет перемещено в Корзину. ") + layoutTexts().trashRestoreHint;
    request.confirmText = QStringLiteral("Удалить ") + RussianPlural::count(items.size(), RussianPlural::items);
    request.destructive = true;
    confirmThen(items, request, &AppState::deleteSelectedScanItems);
}
