#include "ScanItemTableModel.h"

#include "IconSet.h"
#include "app/AppState.h"
#include "base/ByteCountFormatter.h"

#include <QApplication>
#include <QPalette>

ScanItemTableModel::ScanItemTableModel(AppState* state, QObject* parent)
    : QAbstractTableModel(parent)
    , m_state(state)
{
    const QColor tint = QApplication::palette().color(QPalette::Link);
    m_folderIcon = IconSet::icon(QStringLiteral("folder.fill"), tint);
    m_fileIcon = IconSet::icon(QStringLiteral("doc.fill"), QApplication::palette().color(QPalette::PlaceholderText));
    if (m_state) {
        m_home = m_state->home().toString();
        m_layout = m_state->layout();
        connect(m_state, &AppState::scanItemsChanged, this, &ScanItemTableModel::reload);
        connect(m_state, &AppState::lastScanCategoriesChanged, this, &ScanItemTableModel::reload);
        m_items = m_state->scopedScanItems();
        for (const ScanItem& item : std::as_const(m_items))
            m_cleanable.append(item.canAutoCleanup(m_layout));
    }
}

int ScanItemTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

int ScanItemTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columnCount_;
}

std::optional<ScanItem> ScanItemTableModel::itemAt(int row) const
{
    if (row < 0 || row >= m_items.size())
        return std::nullopt;
    return m_items[row];
}

std::optional<ScanItem> ScanItemTableModel::itemWithId(const QUuid& id) const
{
    return itemAt(rowOf(id));
}

int ScanItemTableModel::rowOf(const QUuid& id) const
{
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (m_items[i].id == id)
            return int(i);
    }
    return -1;
}

QString ScanItemTableModel::detailText(const ScanItem& item, bool cleanable)
{
    const QString own = item.detail.value_or(QString());
    if (!cleanable)
        return own;
    const QString mark = QStringLiteral("Можно очистить");
    return own.isEmpty() ? mark : mark + QStringLiteral(" · ") + own;
}

QString ScanItemTableModel::folderText(const ScanItem& item) const
{
    const QString folder = item.path.parent().toString();
    if (!m_home.isEmpty() && (folder == m_home || folder.startsWith(m_home + u'/')))
        return u'~' + folder.mid(m_home.size());
    return folder;
}

QVariant ScanItemTableModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ScanItem& item = m_items[index.row()];
    const bool cleanable = m_cleanable.value(index.row());
    switch (role) {
    case itemIdRole:
        return item.id;
    case sizeRole:
        return item.size;
    case categoryRole:
        return int(item.category);
    case nameRole:
        return item.name;
    case cleanableRole:
        return cleanable;
    default:
        break;
    }
    switch (index.column()) {
    case nameColumn:
        if (role == Qt::DisplayRole)
            return item.name;
        if (role == Qt::CheckStateRole)
            return item.isSelected ? Qt::Checked : Qt::Unchecked;
        if (role == Qt::DecorationRole)
            return item.isDirectory ? m_folderIcon : m_fileIcon;
        if (role == Qt::ToolTipRole)
            return item.path.toString();
        break;
    case sizeColumn:
        if (role == Qt::DisplayRole)
            return ByteCountFormatter::format(item.size);
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        break;
    case detailColumn:
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return detailText(item, cleanable);
        if (role == Qt::ForegroundRole && cleanable)
            return QApplication::palette().color(QPalette::Link);
        break;
    case folderColumn:
        if (role == Qt::DisplayRole)
            return folderText(item);
        if (role == Qt::ToolTipRole)
            return item.path.parent().toString();
        break;
    default:
        break;
    }
    return {};
}

bool ScanItemTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)
        || index.column() != nameColumn || role != Qt::CheckStateRole || !m_state)
        return false;
    const bool wanted = value.value<Qt::CheckState>() == Qt::Checked;
    const QUuid id = m_items[index.row()].id;
    // The state's own entry decides: the row copy may lag behind it.
    for (const ScanItem& entry : m_state->scanItems()) {
        if (entry.id == id) {
            if (entry.isSelected != wanted)
                m_state->toggleSelection(entry);
            return true;
        }
    }
    return false;
}

Qt::ItemFlags ScanItemTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == nameColumn)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant ScanItemTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case nameColumn:
        return QStringLiteral("Имя");
    case sizeColumn:
        return QStringLiteral("Размер");
    case detailColumn:
        return QStringLiteral("Детали");
    case folderColumn:
        return QStringLiteral("Папка");
    case actionsColumn:
        return QStringLiteral("Действия");
    default:
        return {};
    }
}

bool ScanItemTableModel::tryRemoveVanishedRows(const ScanItemList& next)
{
    // next must be m_items with some rows left out, the rest in the same order.
    if (next.size() >= m_items.size())
        return false;
    QList<int> keep;
    qsizetype j = 0;
    for (qsizetype i = 0; i < m_items.size() && j < next.size(); ++i) {
        if (m_items[i].id == next[j].id) {
            keep.append(int(i));
            ++j;
        }
    }
    if (j != next.size())
        return false;
    // Remove from the bottom up, one contiguous run at a time.
    int row = int(m_items.size()) - 1;
    qsizetype k = keep.size() - 1;
    while (row >= 0) {
        if (k >= 0 && keep[k] == row) {
            --row;
            --k;
            continue;
        }
        const int last = row;
        while (row >= 0 && !(k >= 0 && keep[k] == row))
            --row;
        beginRemoveRows({}, row + 1, last);
        m_items.remove(row + 1, last - row);
        m_cleanable.remove(row + 1, last - row);
        endRemoveRows();
    }
    return true;
}

void ScanItemTableModel::reload()
{
    if (!m_state)
        return;
    const ScanItemList next = m_state->scopedScanItems();
    bool sameRows = next.size() == m_items.size();
    for (qsizetype i = 0; sameRows && i < next.size(); ++i)
        sameRows = next[i].id == m_items[i].id;
    if (!sameRows && tryRemoveVanishedRows(next))
        sameRows = true;
    if (!sameRows) {
        beginResetModel();
        m_items = next;
        m_cleanable.clear();
        for (const ScanItem& item : std::as_const(m_items))
            m_cleanable.append(item.canAutoCleanup(m_layout));
        endResetModel();
        return;
    }
    for (qsizetype i = 0; i < next.size(); ++i) {
        if (next[i] == m_items[i])
            continue;
        m_items[i] = next[i];
        Q_EMIT dataChanged(index(int(i), 0), index(int(i), columnCount_ - 1));
    }
}
