#include "ScrollingPage.h"

#include "Theme.h"

#include <QLabel>
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
    const int margin = Theme::padding * 2;
    column->setContentsMargins(margin, margin, margin, margin);
    column->setSpacing(Theme::spacing + 4);
    scroll->setWidget(content);

    auto* heading = new QLabel(title, content);
    heading->setFont(Theme(page->palette()).largeTitleFont());
    column->addWidget(heading);
    return column;
}
