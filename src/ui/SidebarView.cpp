#include "SidebarView.h"

#include "IconSet.h"
#include "SidebarItemButton.h"
#include "Theme.h"
#include "platform/BundleFacts.h"

#include <QButtonGroup>
#include <QPainter>
#include <QVBoxLayout>

SidebarView::SidebarView(QWidget* parent)
    : QWidget(parent)
    , m_items(defaultItems())
    , m_group(new QButtonGroup(this))
{
    setObjectName(QStringLiteral("sidebar"));
    setFixedWidth(Theme::sidebarWidth);
    const std::optional<QString> version = BundleFacts::infoString(QStringLiteral("CFBundleShortVersionString"));
    m_versionText = QStringLiteral("Версия ") + version.value_or(QStringLiteral("—"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Theme::spacing, headerHeight, Theme::spacing, footerHeight);
    layout->setSpacing(2);
    m_group->setExclusive(true);
    for (const NavItem& item : m_items) {
        auto* button = new SidebarItemButton(item, this);
        button->setObjectName(QStringLiteral("sidebarItem%1").arg(item.id));
        m_group->addButton(button, item.id);
        m_buttons.append(button);
        layout->addWidget(button);
        connect(button, &QAbstractButton::clicked, this, [this, id = item.id] { Q_EMIT itemClicked(id); });
    }
    layout->addStretch(1);
    if (!m_buttons.isEmpty())
        m_buttons.first()->setChecked(true);
}

NavItemList SidebarView::defaultItems()
{
    return {
        {0, QStringLiteral("Обзор"), QStringLiteral("gauge.with.dots.needle.67percent")},
        {1, QStringLiteral("Результаты"), QStringLiteral("list.bullet.rectangle")},
        {4, QStringLiteral("Карта"), QStringLiteral("chart.pie")},
        {2, QStringLiteral("Охлаждение"), QStringLiteral("fanblades")},
        {3, QStringLiteral("Настройки"), QStringLiteral("gearshape")},
    };
}

SidebarItemButton* SidebarView::button(int id) const
{
    return qobject_cast<SidebarItemButton*>(m_group->button(id));
}

void SidebarView::setCurrentItem(int id)
{
    if (SidebarItemButton* b = button(id))
        b->setChecked(true);
}

int SidebarView::currentItem() const
{
    return m_group->checkedId();
}

void SidebarView::paintEvent(QPaintEvent*)
{
    const Theme theme = Theme::of(this);
    QPainter painter(this);
    painter.fillRect(rect(), theme.sidebarBackground());
    // Hairline towards the detail area.
    painter.fillRect(QRect(width() - 1, 0, 1, height()), theme.cardBorder());

    constexpr int markSize = 36;
    const int markY = (headerHeight - markSize) / 2 - 2;
    const QPixmap mark = IconSet::korvaneMark(markSize, devicePixelRatioF());
    if (!mark.isNull())
        painter.drawPixmap(Theme::padding, markY, mark);
    const int textX = Theme::padding + markSize + Theme::spacing - 2;
    const int textWidth = width() - textX - Theme::spacing;
    QFont nameFont = theme.headlineFont();
    painter.setFont(nameFont);
    painter.setPen(theme.text());
    const QFontMetrics nameMetrics(nameFont);
    const QFontMetrics makerMetrics(theme.captionFont());
    const int blockHeight = nameMetrics.height() + makerMetrics.height();
    const int top = markY + (markSize - blockHeight) / 2;
    painter.drawText(QRect(textX, top, textWidth, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Brisko Vella"));
    painter.setFont(theme.captionFont());
    painter.setPen(theme.secondaryText());
    painter.drawText(QRect(textX, top + nameMetrics.height(), textWidth, makerMetrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Korvane"));

    painter.drawText(QRect(Theme::padding, height() - footerHeight, width() - 2 * Theme::padding, footerHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, m_versionText);
}
