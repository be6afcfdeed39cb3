#pragma once

#include "scan/ScanCategory.h"

#include <QCollator>
#include <QLocale>
#include <QSortFilterProxyModel>

#include <optional>

// What the results table shows of a ScanItemTableModel: the rows of one
// category when one is picked, then, when the search text is not empty, the
// rows whose name contains it, compared case-insensitively by the rules of
// the user's language. Sorts sizes by bytes and texts in the user's
// collation.
class ScanItemFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit ScanItemFilterModel(QObject* parent = nullptr);

    std::optional<ScanCategory> category() const { return m_category; }
    void setCategory(std::optional<ScanCategory> category);
    QString searchText() const { return m_search; }
    void setSearchText(const QString& text);

    // The case-insensitive containment test the search uses.
    bool nameMatches(const QString& name) const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    std::optional<ScanCategory> m_category;
    QString m_search;
    QString m_foldedSearch;
    QLocale m_locale;
    QCollator m_collator;
};
