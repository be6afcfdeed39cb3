#include "RowRevealButtons.h"

#include "IconSet.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QToolButton>

namespace {
QToolButton* iconButton(const QString& symbol, const QString& text, QWidget* parent)
{
    const Theme theme = Theme::of(parent);
    auto* button = new QToolButton(parent);
    button->setIcon(IconSet::icon(symbol, theme.accent(), theme.secondaryText()));
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(true);
    button->setToolTip(text);
    button->setAccessibleName(text);
    button->setCursor(Qt::PointingHandCursor);
    button->setFixedSize(26, 24);
    return button;
}
} // namespace

RowRevealButtons::RowRevealButtons(const QUuid& itemId, const LayoutTexts& texts, QWidget* parent)
    : QWidget(parent)
    , m_itemId(itemId)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(2);
    m_item = iconButton(QStringLiteral("eye"), texts.revealItemHelp, this);
    m_folder = iconButton(QStringLiteral("folder"), texts.revealFolderHelp, this);
    layout->addWidget(m_item);
    layout->addWidget(m_folder);
    layout->addStretch(1);
    connect(m_item, &QToolButton::clicked, this, [this] { Q_EMIT revealItemClicked(m_itemId); });
    connect(m_folder, &QToolButton::clicked, this, [this] { Q_EMIT revealFolderClicked(m_itemId); });
}
