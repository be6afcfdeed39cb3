// The screens the snapshot program renders. Add a screen with one entry:
// a name and a factory that builds it from the context.
#include "SnapshotContext.h"
#include "SnapshotScreen.h"

#include "AdBannerView.h"
#include "ConfirmationSheet.h"
#include "ContentView.h"
#include "ScanResultsView.h"
#include "SidebarItemButton.h"
#include "SidebarView.h"
#include "StatusBanner.h"
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
