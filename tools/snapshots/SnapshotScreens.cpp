// The screens the snapshot program renders. Add a screen with one entry:
// a name and a factory that builds it from the context.
#include "SnapshotContext.h"
#include "SnapshotScreen.h"
#include "TestValues.h"

#include "AdBannerView.h"
#include "ConfirmationSheet.h"
#include "ContentView.h"
#include "ScanResultsView.h"
#include "SidebarItemButton.h"
#include "SidebarView.h"
#include "StatusBanner.h"
#include "UsageMapView.h"
#include "UsageRingChart.h"
#include "app/AppState.h"

#include <QAbstractButton>
#include <QLineEdit>

namespace {
ContentView* contentOn(SnapshotContext& c, int section)
{
    c.state();
    c.ads();
    auto* view = new ContentView(c.services());
    if (section != ContentView::overviewSection)
        view->sidebar()->button(section)->click();
    return view;
}
// Folders of a lived-in home beside the fixture's downloads and caches.
void addMapFolders(AppFixture& f)
{
    f.sized(QStringLiteral("Видео/Отпуск 2024.mp4"), 3100 * MiB);
    f.sized(QStringLiteral("Видео/Выпускной.mov"), 1400 * MiB);
    f.sized(QStringLiteral("Документы/Диплом/черновик.docx"), 40 * MiB);
    f.sized(QStringLiteral("Документы/Сканы/паспорт.pdf"), 12 * MiB);
    f.sized(QStringLiteral("Проекты/сайт/node_modules/пакет/index.js"), 700 * MiB);
    f.sized(QStringLiteral("Проекты/сайт/.git/objects/pack.pack"), 310 * MiB);
    f.sized(QStringLiteral("Музыка/альбом/трек 01.flac"), 600 * MiB);
    f.sized(QStringLiteral("Library/Caches/com.google.Chrome/Cache/data_1"), 850 * MiB);
    f.sized(QStringLiteral("Library/Mail/V10/inbox.mbox"), 520 * MiB);
    f.sized(QStringLiteral("Library/Logs/DiagnosticReports/App.ips"), 30 * MiB);
}
} // namespace

QList<SnapshotScreen> panelsSnapshotScreens();
QList<SnapshotScreen> gateSnapshotScreens();

QList<SnapshotScreen> snapshotScreens()
{
    return QList<SnapshotScreen>{
        {QStringLiteral("content-overview"),
         [](SnapshotContext& c) {
             c.scan(ScanCategory::downloadsInbox);
             return contentOn(c, ContentView::overviewSection);
         }},
        {QStringLiteral("content-overview-first-run"),
         [](SnapshotContext& c) {
             c.withoutVolumes();
             return contentOn(c, ContentView::overviewSection);
         }},
        {QStringLiteral("content-results"),
         [](SnapshotContext& c) {
             c.scan(ScanCategory::downloadsInbox);
             return contentOn(c, ContentView::resultsSection);
         }},
        {QStringLiteral("content-results-caches"),
         [](SnapshotContext& c) {
             c.scan(ScanCategory::appCaches);
             return contentOn(c, ContentView::resultsSection);
         }},
        {QStringLiteral("content-map"),
         [](SnapshotContext& c) {
             addMapFolders(c.fixture());
             c.map();
             return contentOn(c, ContentView::mapSection);
         }},
        {QStringLiteral("content-map-drilled"),
         [](SnapshotContext& c) {
             addMapFolders(c.fixture());
             c.map();
             ContentView* view = contentOn(c, ContentView::mapSection);
             auto* map = static_cast<UsageMapView*>(view->section(ContentView::mapSection));
             const UsageTreePtr tree = c.state().usageTree();
             Q_EMIT map->chart()->entryClicked(tree->find(tree->rootPath().child(QStringLiteral("Library"))));
             return view;
         }},
        {QStringLiteral("content-results-empty"),
         [](SnapshotContext& c) { return contentOn(c, ContentView::resultsSection); }},
        {QStringLiteral("content-results-no-matches"),
         [](SnapshotContext& c) {
             c.scan(ScanCategory::downloadsInbox);
             ContentView* view = contentOn(c, ContentView::resultsSection);
             view->results()->searchField()->setText(QStringLiteral("ничего похожего"));
             return view;
         }},
        {QStringLiteral("confirmation-delete"),
         [](SnapshotContext&) {
             ConfirmationRequest request;
             request.title = QStringLiteral("Удалить в Корзину?");
             request.message = QStringLiteral("Выбранное (220,2\u00a0МБ) будет перемещено в Корзину. "
                                              "Восстановить можно из Корзины.");
             request.confirmText = QStringLiteral("Удалить 3 элемента");
             request.destructive = true;
             return static_cast<QWidget*>(new ConfirmationSheet(request));
         },
         QSize(560, 180)},
        {QStringLiteral("confirmation-move"),
         [](SnapshotContext&) {
             ConfirmationRequest request;
             request.title = QStringLiteral("Перенести на архив?");
             request.message = QStringLiteral("Будет перенесено 1,42\u00a0ГБ в: /media/пользователь/Архивный диск/"
                                              "Brisko Archive/Перенесённое");
             request.confirmText = QStringLiteral("Перенести 21 элемент");
             return static_cast<QWidget*>(new ConfirmationSheet(request));
         },
         QSize(560, 200)},
        {QStringLiteral("content-status-banner-running"),
         [](SnapshotContext&) {
             auto* banner = new StatusBanner;
             banner->setMessage(QStringLiteral("Перенос 3/7…"));
             banner->setLoading(true);
             banner->setProgress(0.43);
             return static_cast<QWidget*>(banner);
         },
         QSize(760, StatusBanner::bannerHeight)},
        {QStringLiteral("content-status-banner-stopping"),
         [](SnapshotContext&) {
             auto* banner = new StatusBanner;
             banner->setMessage(QStringLiteral("Копирование Documents…"));
             banner->setLoading(true);
             banner->setProgress(0.6);
             banner->setStopping(true);
             return static_cast<QWidget*>(banner);
         },
         QSize(760, StatusBanner::bannerHeight)},
        {QStringLiteral("content-ad-banner"),
         [](SnapshotContext& c) {
             c.state();
             c.ads();
             return static_cast<QWidget*>(new AdBannerView(c.services()));
         },
         QSize(760, 72)},
    } + panelsSnapshotScreens() + gateSnapshotScreens();
}
