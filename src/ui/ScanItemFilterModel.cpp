#include "ScanItemFilterModel.h"

#include "ScanItemTableModel.h"

ScanItemFilterModel::ScanItemFilterModel(QObject* parent)
    : QSortFilterProxyModel(parent)
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    m_collator.setNumericMode(true);
}

void ScanItemFilterModel::setCategory(std::optional<ScanCategory> category)
{
    if (category == m_category)
        return;
    m_category = category;
    invalidateRowsFilter();
}

void ScanItemFilterModel::setSearchText(const QString& text)
{
    if (text == m_search)
        return;
    m_search = text;
    m_foldedSearch = m_locale.toLower(text);
    invalidateRowsFilter();
}

bool ScanItemFilterModel::nameMatches(const QString& name) const
{
    return m_foldedSearch.isEmpty() || m_locale.toLower(name).contains(m_foldedSearch);
}

bool ScanItemFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
    if (m_category && index.data(ScanItemTableModel::categoryRole).toInt() != int(*m_category))
        return false;
    return nameMatches(index.data(ScanItemTableModel::nameRole).toString());
}

bool ScanItemFilterModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    if (left.column() == ScanItemTableModel::sizeColumn)
        return left.data(ScanItemTableModel::sizeRole).toLongLong() < right.data(ScanItemTableModel::sizeRole).toLongLong();
    return m_collator.compare(left.data(Qt::DisplayRole).toString(), right.data(Qt::DisplayRole).toString()) < 0;
}
