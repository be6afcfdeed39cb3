#include "ScrollingPage.h"

#include "PageTemplate.h"

#include <QScrollArea>
#include <QVBoxLayout>

QVBoxLayout* ScrollingPage::install(QWidget* page, const QString& title)
{
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(page);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);

    auto* content = new QWidget(scroll);
    auto* column = new QVBoxLayout(content);
    PageTemplate::applyColumn(column);
    scroll->setWidget(content);
    PageTemplate::addTitleRow(column, content, title);
    return column;
}
