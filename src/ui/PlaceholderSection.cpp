#include "PlaceholderSection.h"

#include "Theme.h"

#include <QLabel>
#include <QVBoxLayout>

PlaceholderSection::PlaceholderSection(const QString& title, QWidget* parent)
    : CardFrame(parent)
{
    setObjectName(QStringLiteral("placeholderSection"));
    const Theme theme = Theme::of(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Theme::padding, Theme::padding, Theme::padding, Theme::padding);
    auto* heading = new QLabel(title, this);
    heading->setFont(theme.headlineFont());
    layout->addWidget(heading);
    setMinimumHeight(72);
}
