#include "PageTemplate.h"

#include "Theme.h"

#include <QBoxLayout>
#include <QLabel>

void PageTemplate::applyColumn(QBoxLayout* column)
{
    column->setContentsMargins(sideMargin, topMargin, sideMargin, bottomMargin);
    column->setSpacing(groupSpacing);
}

QHBoxLayout* PageTemplate::addTitleRow(QBoxLayout* column, QWidget* parent, const QString& title,
                                       const QString& subtitle)
{
    const Theme theme = Theme::of(parent);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(Theme::spacing);
    auto* titles = new QVBoxLayout;
    titles->setContentsMargins(0, 0, 0, 0);
    titles->setSpacing(2);
    auto* heading = new QLabel(title, parent);
    heading->setObjectName(QStringLiteral("pageTitle"));
    heading->setFont(theme.largeTitleFont());
    heading->setAccessibleName(title);
    titles->addWidget(heading);
    if (!subtitle.isEmpty()) {
        auto* secondary = new QLabel(subtitle, parent);
        secondary->setObjectName(QStringLiteral("pageSubtitle"));
        secondary->setForegroundRole(QPalette::PlaceholderText);
        secondary->setWordWrap(true);
        titles->addWidget(secondary);
    }
    row->addLayout(titles, 1);
    column->addLayout(row);
    return row;
}
