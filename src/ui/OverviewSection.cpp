#include "OverviewSection.h"

#include "AdBannerView.h"
#include "DiskCard.h"
#include "IconSet.h"
#include "PageTemplate.h"
#include "NoticeBanner.h"
#include "QuickScanCategoryButton.h"
#include "MacHealthDashboardSection.h"
#include "SectionFactory.h"
#include "StatChip.h"
#include "UpdateBanner.h"
#include "Theme.h"
#include "app/AppState.h"
#include "base/ByteCountFormatter.h"
#include "base/RussianPlural.h"
#include "fans/SystemPermissionsHelper.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int quickScanColumns = 4;
constexpr int diskColumns = 3;

QLabel* heading(const QString& text, const QFont& font, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    return label;
}

QLabel* secondary(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setWordWrap(true);
    return label;
}
} // namespace

OverviewSection::OverviewSection(const WindowServices& services, QWidget* parent)
    : QScrollArea(parent)
    , m_services(services)
{
    setObjectName(QStringLiteral("overviewSection"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("overviewContent"));
    content->setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    m_content = new QVBoxLayout(content);
    PageTemplate::applyColumn(m_content);

    buildTopBar(content);
    m_updateSlot = new QVBoxLayout;
    m_updateSlot->setContentsMargins(0, 0, 0, 0);
    m_content->addLayout(m_updateSlot);
    if (m_services.updates)
        m_updateSlot->addWidget(new UpdateBanner(m_services.updates, m_services.workspace, content));

    m_fullDiskAccess = new NoticeBanner(content);
    m_fullDiskAccess->setObjectName(QStringLiteral("fullDiskAccessBanner"));
    m_fullDiskAccess->setTint(Theme::of(this).warning());
    m_fullDiskAccess->setIcon(QStringLiteral("exclamationmark.triangle.fill"));
    m_fullDiskAccess->setTitle(QStringLiteral("Рекомендуется: полный доступ к диску"));
    m_fullDiskAccess->setMessage(QStringLiteral("Без него сканирование кэшей и части папок Library будет неполным."));
    QPushButton* openSettings = m_fullDiskAccess->addButton(QStringLiteral("Открыть настройки"), true);
    connect(openSettings, &QPushButton::clicked, this, [this] {
        if (m_services.workspace)
            SystemPermissionsHelper::openFullDiskAccessSettings(*m_services.workspace);
    });
    m_content->addWidget(m_fullDiskAccess);

    if (m_services.ads) {
        m_adBanner = new AdBannerView(m_services, content);
        m_content->addWidget(m_adBanner);
    }

    m_content->addWidget(buildQuickScan());
    m_content->addWidget(buildDisks());
    QWidget* health = SectionFactory::healthSection(m_services, content);
    if (auto* dashboard = qobject_cast<MacHealthDashboardSection*>(health))
        connect(dashboard, &MacHealthDashboardSection::showResultsRequested, this,
                &OverviewSection::showResultsRequested);
    m_content->addWidget(health);
    m_content->addWidget(SectionFactory::safeCleanupSection(m_services, content));
    m_content->addWidget(SectionFactory::cleanArchiveSection(m_services, content));
    m_content->addStretch(1);
    setWidget(content);

    if (AppState* state = m_services.appState) {
        connect(state, &AppState::storageStatsChanged, this, &OverviewSection::updateTopBar);
        connect(state, &AppState::disksChanged, this, &OverviewSection::updateTopBar);
        connect(state, &AppState::disksChanged, this, &OverviewSection::updateDisks);
        connect(state, &AppState::scanItemsChanged, this, &OverviewSection::updateResultsRow);
        connect(state, &AppState::settingsChanged, this, &OverviewSection::updateQuickScanTexts);
        connect(state, &AppState::busyChanged, this, &OverviewSection::updateBusy);
    }
    updateTopBar();
    updateQuickScanTexts();
    updateResultsRow();
    updateDisks();
    updateBusy();
    updateFullDiskAccess();
}

void OverviewSection::buildTopBar(QWidget* bar)
{
    QHBoxLayout* layout = PageTemplate::addTitleRow(m_content, bar, QStringLiteral("Обзор"),
                                                    QStringLiteral("Сканирование, очистка кэшей и архив на одном экране"));
    m_freedChip = new StatChip(QStringLiteral("checkmark.circle.fill"), bar);
    m_freedChip->setObjectName(QStringLiteral("freedChip"));
    m_diskChip = new StatChip(QStringLiteral("externaldrive.fill"), bar);
    m_diskChip->setObjectName(QStringLiteral("diskChip"));
    layout->addWidget(m_freedChip, 0, Qt::AlignVCenter);
    layout->addWidget(m_diskChip, 0, Qt::AlignVCenter);
}

QWidget* OverviewSection::buildQuickScan()
{
    const Theme theme = Theme::of(this);
    auto* box = new QWidget(this);
    box->setObjectName(QStringLiteral("quickScan"));
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(Theme::smallSpacing);
    layout->addWidget(heading(QStringLiteral("Быстрое сканирование"), theme.titleFont(), box));
    layout->addWidget(secondary(QStringLiteral("Нажмите категорию — сканирование начнётся сразу."), box));
    auto* grid = new QGridLayout;
    grid->setContentsMargins(0, Theme::smallSpacing, 0, 0);
    grid->setHorizontalSpacing(Theme::spacing);
    grid->setVerticalSpacing(Theme::spacing);
    const QList<ScanCategory> categories = ScanCategories::allCategories();
    for (qsizetype i = 0; i < categories.size(); ++i) {
        const ScanCategory category = categories[i];
        auto* button = new QuickScanCategoryButton(category, box);
        connect(button, &QAbstractButton::clicked, this, [this, category] {
            if (m_services.appState && !m_services.appState->isBusy())
                Q_EMIT quickScanRequested(category);
        });
        m_quickScan.insert(category, button);
        grid->addWidget(button, int(i / quickScanColumns), int(i % quickScanColumns), Qt::AlignLeft);
    }
    grid->setColumnStretch(quickScanColumns, 1);
    layout->addLayout(grid);

    m_resultsRow = new QWidget(box);
    m_resultsRow->setObjectName(QStringLiteral("resultsRow"));
    auto* row = new QHBoxLayout(m_resultsRow);
    row->setContentsMargins(0, Theme::smallSpacing, 0, 0);
    row->setSpacing(Theme::spacing);
    m_resultsLink = new QPushButton(QStringLiteral("Результаты →"), m_resultsRow);
    m_resultsLink->setObjectName(QStringLiteral("resultsLink"));
    m_resultsLink->setFlat(true);
    m_resultsLink->setCursor(Qt::PointingHandCursor);
    m_resultsLink->setForegroundRole(QPalette::Link);
    QPalette linkPalette = m_resultsLink->palette();
    linkPalette.setColor(QPalette::ButtonText, linkPalette.color(QPalette::Link));
    m_resultsLink->setPalette(linkPalette);
    QFont linkFont = theme.bodyFont();
    linkFont.setWeight(QFont::DemiBold);
    m_resultsLink->setFont(linkFont);
    connect(m_resultsLink, &QPushButton::clicked, this, &OverviewSection::showResultsRequested);
    m_resultsSummary = secondary(QString(), m_resultsRow);
    m_resultsSummary->setWordWrap(false);
    m_sortDownloads = new QPushButton(QStringLiteral("Разложить Downloads"), m_resultsRow);
    m_sortDownloads->setObjectName(QStringLiteral("sortDownloads"));
    m_sortDownloads->setIcon(
        IconSet::icon(QStringLiteral("folder.badge.gearshape"), theme.text(), theme.secondaryText()));
    connect(m_sortDownloads, &QPushButton::clicked, this, [this] {
        if (m_services.appState)
            m_services.appState->sortDownloads();
    });
    row->addWidget(m_resultsLink);
    row->addWidget(m_resultsSummary);
    row->addStretch(1);
    row->addWidget(m_sortDownloads);
    layout->addWidget(m_resultsRow);
    return box;
}

QWidget* OverviewSection::buildDisks()
{
    const Theme theme = Theme::of(this);
    auto* box = new QWidget(this);
    box->setObjectName(QStringLiteral("disks"));
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(Theme::spacing);
    auto* header = new QHBoxLayout;
    header->addWidget(heading(QStringLiteral("Диски"), theme.titleFont(), box));
    header->addStretch(1);
    m_refreshDisks = new QPushButton(QStringLiteral("Обновить"), box);
    m_refreshDisks->setObjectName(QStringLiteral("refreshDisks"));
    m_refreshDisks->setIcon(IconSet::icon(QStringLiteral("arrow.clockwise"), theme.text(), theme.secondaryText()));
    connect(m_refreshDisks, &QPushButton::clicked, this, [this] {
        if (m_services.appState)
            m_services.appState->refreshDisks();
    });
    header->addWidget(m_refreshDisks);
    layout->addLayout(header);
    m_diskGrid = new QGridLayout;
    m_diskGrid->setHorizontalSpacing(Theme::spacing);
    m_diskGrid->setVerticalSpacing(Theme::spacing);
    for (int c = 0; c < diskColumns; ++c)
        m_diskGrid->setColumnStretch(c, 1);
    layout->addLayout(m_diskGrid);
    m_noDisks = secondary(QStringLiteral("Не удалось получить информацию о дисках"), box);
    m_noDisks->setObjectName(QStringLiteral("noDisks"));
    layout->addWidget(m_noDisks);
    return box;
}

QString OverviewSection::freedText() const
{
    const qint64 freed = m_services.appState ? m_services.appState->storageStats().totalFreed : 0;
    return QStringLiteral("Освобождено ") + ByteCountFormatter::format(freed);
}

QString OverviewSection::diskFillText() const
{
    const std::optional<DiskInfo> disk = m_services.appState ? m_services.appState->primaryDisk() : std::nullopt;
    if (!disk || disk->total <= 0)
        return {};
    const int percent = qRound(double(disk->used) * 100.0 / double(disk->total));
    return QStringLiteral("Диск ") + QString::number(percent) + QStringLiteral("% полон");
}

QString OverviewSection::resultsSummaryText() const
{
    if (!m_services.appState)
        return {};
    return RussianPlural::count(m_services.appState->scanItems().size(), RussianPlural::items) + QStringLiteral(" · ")
           + ByteCountFormatter::format(m_services.appState->totalScanSize());
}

bool OverviewSection::fullDiskAccessBannerShown() const
{
    return !m_fullDiskAccess->isHidden();
}

void OverviewSection::updateTopBar()
{
    m_freedChip->setText(freedText());
    const QString fill = diskFillText();
    m_diskChip->setText(fill);
    m_diskChip->setVisible(!fill.isEmpty());
}

void OverviewSection::updateQuickScanTexts()
{
    const AppSettings* settings = m_services.appState ? &m_services.appState->settings() : nullptr;
    for (auto it = m_quickScan.cbegin(); it != m_quickScan.cend(); ++it)
        it.value()->setTexts(ScanCategories::title(it.key(), settings), ScanCategories::subtitle(it.key(), settings));
}

void OverviewSection::updateResultsRow()
{
    const bool hasResults = m_services.appState && !m_services.appState->scanItems().isEmpty();
    m_resultsRow->setVisible(hasResults);
    m_resultsSummary->setText(resultsSummaryText());
}

void OverviewSection::updateDisks()
{
    while (QLayoutItem* item = m_diskGrid->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const DiskInfoList disks = m_services.appState ? m_services.appState->disks() : DiskInfoList();
    for (qsizetype i = 0; i < disks.size(); ++i) {
        auto* card = new DiskCard(disks[i], m_diskGrid->parentWidget());
        m_diskGrid->addWidget(card, int(i / diskColumns), int(i % diskColumns));
    }
    m_noDisks->setVisible(disks.isEmpty());
}

void OverviewSection::updateBusy()
{
    const bool busy = m_services.appState && m_services.appState->isBusy();
    for (QuickScanCategoryButton* button : std::as_const(m_quickScan))
        button->setEnabled(!busy);
    m_sortDownloads->setEnabled(!busy);
    m_refreshDisks->setEnabled(!busy);
}

void OverviewSection::setScanningCategory(std::optional<ScanCategory> category)
{
    m_scanning = category;
    for (auto it = m_quickScan.cbegin(); it != m_quickScan.cend(); ++it)
        it.value()->setScanning(category && *category == it.key());
}

void OverviewSection::updateFullDiskAccess()
{
    const AppState* state = m_services.appState;
    const bool needed = state && state->fileSystem()
                        && SystemPermissionsHelper::needsFullDiskAccess(*state->fileSystem(), state->home());
    m_fullDiskAccess->setVisible(needed);
}

void OverviewSection::showEvent(QShowEvent* event)
{
    // The user may have granted access in the system settings meanwhile.
    updateFullDiskAccess();
    QScrollArea::showEvent(event);
}
