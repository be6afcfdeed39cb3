#include "UsageMapView.h"

#include "Confirmer.h"
#include "Theme.h"
#include "UsageRingChart.h"
#include "WindowHomeLayout.h"
#include "app/AppState.h"
#include "base/ByteCountFormatter.h"
#include "platform/Workspace.h"

#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace {

enum Action { moveAction, trashAction, cleanAction };

constexpr int listedChildren = 40;
constexpr int indexRole = Qt::UserRole + 1;

QLabel* heading(const QString& text, const QFont& font, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    return label;
}

} // namespace

UsageMapView::UsageMapView(const WindowServices& services, QWidget* parent)
    : QWidget(parent)
    , m_services(services)
{
    setObjectName(QStringLiteral("usageMapView"));
    const Theme theme = Theme::of(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Theme::padding + 8, Theme::padding, Theme::padding + 8, Theme::padding);
    layout->setSpacing(Theme::spacing);

    auto* bar = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->addWidget(heading(QStringLiteral("Карта"), theme.largeTitleFont(), this));
    auto* subtitle = new QLabel(QStringLiteral("Куда ушло место: размер каждой папки, кэши отмечены по риску"), this);
    subtitle->setForegroundRole(QPalette::PlaceholderText);
    titles->addWidget(subtitle);
    bar->addLayout(titles, 1);
    m_build = new QPushButton(QStringLiteral("Построить карту"), this);
    m_build->setObjectName(QStringLiteral("usageBuildButton"));
    m_build->setAutoDefault(false);
    m_stop = new QPushButton(QStringLiteral("Остановить"), this);
    m_stop->setObjectName(QStringLiteral("usageStopButton"));
    m_stop->setAutoDefault(false);
    bar->addWidget(m_build, 0, Qt::AlignBottom);
    bar->addWidget(m_stop, 0, Qt::AlignBottom);
    layout->addLayout(bar);

    m_crumbs = new QWidget(this);
    m_crumbs->setObjectName(QStringLiteral("usageBreadcrumb"));
    m_crumbs->setAccessibleName(QStringLiteral("Путь к папке в центре"));
    m_crumbLayout = new QHBoxLayout(m_crumbs);
    m_crumbLayout->setContentsMargins(0, 0, 0, 0);
    m_crumbLayout->setSpacing(2);
    layout->addWidget(m_crumbs);

    auto* body = new QHBoxLayout;
    body->setSpacing(Theme::spacing);
    auto* left = new QVBoxLayout;
    m_chart = new UsageRingChart(this);
    m_chart->setHint(QStringLiteral("Карта ещё не построена — нажмите «Построить карту»"));
    left->addWidget(m_chart, 1);
    m_hover = new QLabel(this);
    m_hover->setObjectName(QStringLiteral("usageHoverLabel"));
    m_hover->setAlignment(Qt::AlignCenter);
    m_hover->setMinimumHeight(QFontMetrics(theme.bodyFont()).height() + 4);
    left->addWidget(m_hover);
    body->addLayout(left, 3);

    auto* side = new QVBoxLayout;
    m_listTitle = heading(QString(), theme.headlineFont(), this);
    m_listTitle->setWordWrap(true);
    side->addWidget(m_listTitle);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("usageChildList"));
    m_list->setAccessibleName(QStringLiteral("Самое большое в папке"));
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setUniformItemSizes(true);
    side->addWidget(m_list, 1);
    auto* legend = new QLabel(QStringLiteral("Зелёным — безопасные кэши, жёлтым — осторожно, штриховкой — запрещено"
                                             " трогать, серым — нет доступа. Щелчок — внутрь, центр — назад."),
                              this);
    legend->setWordWrap(true);
    legend->setForegroundRole(QPalette::PlaceholderText);
    side->addWidget(legend);
    body->addLayout(side, 2);
    layout->addLayout(body, 1);

    connect(m_chart, &UsageRingChart::entryClicked, this, [this](UsageTree::Index index) {
        if (m_tree && m_tree->isDirectory(index)) {
            setFocusEntry(index);
        } else {
            select(index);
        }
    });
    connect(m_chart, &UsageRingChart::centreClicked, this, [this] {
        if (m_tree && !m_tree->isEmpty()) {
            const UsageTree::Index focus = m_tree->find(m_focusPath);
            if (focus != UsageTree::noNode && focus != 0) {
                const FilePath left = m_focusPath;
                setFocusEntry(m_tree->parent(focus));
                select(m_tree->find(left));
            }
        }
    });
    connect(m_chart, &UsageRingChart::selectionRequested, this, &UsageMapView::select);
    connect(m_chart, &UsageRingChart::hoveredChanged, this, &UsageMapView::showHover);
    connect(m_chart, &UsageRingChart::contextMenuRequested, this,
            [this](UsageTree::Index index, const QPoint& at) {
                if (QMenu* menu = menuFor(index))
                    menu->popup(at);
            });
    connect(m_list, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (item)
            select(item->data(indexRole).toUInt());
    });
    connect(m_list, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        const UsageTree::Index index = item->data(indexRole).toUInt();
        if (m_tree && m_tree->isDirectory(index))
            setFocusEntry(index);
    });
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (QListWidgetItem* item = m_list->itemAt(at)) {
            if (QMenu* menu = menuFor(item->data(indexRole).toUInt()))
                menu->popup(m_list->viewport()->mapToGlobal(at));
        }
    });
    auto* up = new QShortcut(QKeySequence(Qt::Key_Backspace), m_list);
    up->setContext(Qt::WidgetShortcut);
    connect(up, &QShortcut::activated, m_chart, [this] { Q_EMIT m_chart->centreClicked(); });

    connect(m_build, &QPushButton::clicked, this, [this] {
        AppState* state = m_services.appState;
        if (!state || state->isBusy())
            return;
        m_mapping = true;
        auto* watcher = new QFutureWatcher<void>(this);
        connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher] {
            watcher->deleteLater();
            m_mapping = false;
            updateControls();
        });
        const FilePath root = m_tree && !m_tree->isEmpty() ? m_tree->rootPath() : FilePath();
        watcher->setFuture(state->runUsageScan(root));
        updateControls();
    });
    connect(m_stop, &QPushButton::clicked, this, [this] {
        if (m_services.appState)
            m_services.appState->cancelUsageScan();
    });
    if (AppState* state = m_services.appState) {
        connect(state, &AppState::usageTreeChanged, this, &UsageMapView::takeTree);
        connect(state, &AppState::busyChanged, this, &UsageMapView::updateControls);
    }
    takeTree();
}

QList<QPushButton*> UsageMapView::breadcrumb() const
{
    return m_crumbs->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly);
}

void UsageMapView::takeTree()
{
    m_tree = m_services.appState ? m_services.appState->usageTree() : UsageTreePtr();
    if (m_tree && !m_tree->isEmpty() && m_tree->find(m_focusPath) == UsageTree::noNode) {
        // The folder in focus went away (or this is a new map): the nearest
        // folder above it that is still there takes its place.
        FilePath path = m_focusPath;
        while (!path.isEmpty() && m_tree->find(path) == UsageTree::noNode && path.native() != "/")
            path = path.parent();
        m_focusPath = m_tree->find(path) != UsageTree::noNode ? path : m_tree->rootPath();
    }
    rebuild();
}

void UsageMapView::setFocusEntry(UsageTree::Index index)
{
    if (!m_tree || index == UsageTree::noNode)
        return;
    m_focusPath = m_tree->path(index);
    m_selectedPath = FilePath();
    rebuild();
}

void UsageMapView::select(UsageTree::Index index)
{
    if (!m_tree || index == UsageTree::noNode || index >= UsageTree::Index(m_tree->nodeCount())) {
        m_chart->setSelected(UsageTree::noNode);
        return;
    }
    m_selectedPath = m_tree->path(index);
    m_chart->setSelected(index);
    for (int row = 0; row < m_list->count(); ++row) {
        QListWidgetItem* item = m_list->item(row);
        if (item->data(indexRole).toUInt() == index && m_list->currentItem() != item)
            m_list->setCurrentItem(item);
    }
}

QString UsageMapView::describe(UsageTree::Index index) const
{
    QString text = (index == 0 ? m_tree->rootPath().fileName() : m_tree->name(index)) + QStringLiteral(" — ")
        + ByteCountFormatter::format(m_tree->size(index));
    if (m_tree->isUnreadable(index))
        text += QStringLiteral(", нет доступа");
    if (const std::optional<CacheRisk> risk = m_chart->riskOf(index))
        text += QStringLiteral(", ") + CacheRisks::title(*risk).toLower();
    return text;
}

void UsageMapView::rebuild()
{
    const bool hasTree = m_tree && !m_tree->isEmpty();
    const UsageTree::Index focus = hasTree ? m_tree->find(m_focusPath) : UsageTree::noNode;
    m_chart->setTree(hasTree ? m_tree : UsageTreePtr(), focus == UsageTree::noNode ? 0 : focus,
                     windowHomeLayout(m_services.appState));

    while (QLayoutItem* item = m_crumbLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_list->clear();
    m_listTitle->clear();
    if (hasTree && focus != UsageTree::noNode) {
        QList<UsageTree::Index> chain;
        for (UsageTree::Index i = focus; i != UsageTree::noNode; i = m_tree->parent(i))
            chain.prepend(i);
        for (const UsageTree::Index i : chain) {
            if (i != chain.first())
                m_crumbLayout->addWidget(new QLabel(QStringLiteral("›"), m_crumbs));
            const QString name = i == 0 ? m_tree->rootPath().toString() : m_tree->name(i);
            auto* crumb = new QPushButton(name, m_crumbs);
            crumb->setFlat(true);
            crumb->setAutoDefault(false);
            crumb->setEnabled(i != focus);
            crumb->setAccessibleName(QStringLiteral("Назад к ") + name);
            connect(crumb, &QPushButton::clicked, this, [this, i] { setFocusEntry(i); });
            m_crumbLayout->addWidget(crumb);
        }
        m_crumbLayout->addStretch(1);

        m_listTitle->setText(QStringLiteral("Самое большое в «") + (focus == 0 ? m_tree->rootPath().fileName()
                                                                                : m_tree->name(focus))
                             + QStringLiteral("»"));
        for (const UsageTree::Index child : m_tree->largestChildren(focus, listedChildren)) {
            auto* item = new QListWidgetItem(describe(child), m_list);
            item->setData(indexRole, child);
            item->setData(Qt::AccessibleTextRole, describe(child));
            item->setToolTip(m_tree->path(child).toString());
        }
        select(m_tree->find(m_selectedPath));
    }
    updateControls();
}

void UsageMapView::showHover(UsageTree::Index index)
{
    m_hover->setText(m_tree && index != UsageTree::noNode ? describe(index) : QString());
}

void UsageMapView::updateControls()
{
    const AppState* state = m_services.appState;
    const bool busy = state && state->isBusy();
    m_build->setText(m_tree && !m_tree->isEmpty() ? QStringLiteral("Обновить карту") : QStringLiteral("Построить карту"));
    m_build->setEnabled(state && !busy);
    m_stop->setVisible(m_mapping);
}

QMenu* UsageMapView::menuFor(UsageTree::Index index)
{
    if (!m_tree || index == UsageTree::noNode || index >= UsageTree::Index(m_tree->nodeCount()))
        return nullptr;
    const FilePath path = m_tree->path(index);
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setObjectName(QStringLiteral("usageContextMenu"));
    Workspace* workspace = m_services.workspace;
    connect(menu->addAction(QStringLiteral("Показать в Finder")), &QAction::triggered, this, [workspace, path] {
        if (workspace)
            workspace->revealFile(path);
    });
    connect(menu->addAction(QStringLiteral("Показать папку")), &QAction::triggered, this, [workspace, path] {
        if (workspace)
            workspace->revealFile(path.parent());
    });
    menu->addSeparator();
    const AppState* state = m_services.appState;
    // Only what lies inside the home is moved or deleted from the map: a map
    // of another folder is for looking.
    const QByteArray home = state ? state->home().native() + '/' : QByteArray();
    const bool actionable = state && !state->isBusy() && index != 0 && path.native().startsWith(home);
    QAction* move = menu->addAction(QStringLiteral("Перенести на архив"));
    QAction* trash = menu->addAction(QStringLiteral("Удалить в Корзину"));
    QAction* clean = menu->addAction(QStringLiteral("Очистить"));
    move->setEnabled(actionable);
    trash->setEnabled(actionable);
    clean->setEnabled(actionable && m_chart->riskOf(index) == CacheRisk::safe);
    connect(move, &QAction::triggered, this, [this, index] { confirmAction(index, moveAction); });
    connect(trash, &QAction::triggered, this, [this, index] { confirmAction(index, trashAction); });
    connect(clean, &QAction::triggered, this, [this, index] { confirmAction(index, cleanAction); });
    return menu;
}

void UsageMapView::confirmAction(UsageTree::Index index, int action)
{
    AppState* state = m_services.appState;
    if (!state || !m_services.confirmer || !m_tree)
        return;
    const FilePath path = m_tree->path(index);
    const QString name = m_tree->name(index);
    const QString size = ByteCountFormatter::format(m_tree->size(index));
    ConfirmationRequest request;
    QFuture<void> (AppState::*operation)(const FilePath&) = nullptr;
    switch (action) {
    case moveAction:
        request.title = QStringLiteral("Перенести на архив?");
        request.message = QStringLiteral("Будет перенесено ") + size + QStringLiteral(" в: ") + state->settings().archivePath;
        request.confirmText = QStringLiteral("Перенести «") + name + QStringLiteral("»");
        operation = &AppState::moveUsageEntryToArchive;
        break;
    case trashAction:
        request.title = QStringLiteral("Удалить в Корзину?");
        request.message = QStringLiteral("Выбранное (") + size
            + QStringLiteral(") будет перемещено в Корзину. Восстановить можно из Finder.");
        request.confirmText = QStringLiteral("Удалить «") + name + QStringLiteral("»");
        request.destructive = true;
        operation = &AppState::trashUsageEntry;
        break;
    default:
        request.title = QStringLiteral("Очистить выбранное?");
        request.message = QStringLiteral("Будет удалено ") + size
            + QStringLiteral(". Приложения пересоздадут кэши при необходимости.");
        request.confirmText = QStringLiteral("Очистить «") + name + QStringLiteral("»");
        operation = &AppState::cleanUsageEntry;
        break;
    }
    QPointer<AppState> guard(state);
    m_services.confirmer->confirm(this, request, [guard, operation, path](bool confirmed) {
        if (confirmed && guard)
            (guard.data()->*operation)(path);
    });
}
