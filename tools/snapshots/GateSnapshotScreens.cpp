// The launch gate's screens in the snapshot program.
#include "SnapshotContext.h"
#include "SnapshotScreen.h"

#include "EULAAcceptanceView.h"
#include "FirstLaunchOnboardingView.h"
#include "LaunchLoadingView.h"
#include "RegionBlockedView.h"

QList<SnapshotScreen> gateSnapshotScreens()
{
    return {
        {QStringLiteral("gate-loading"),
         [](SnapshotContext&) {
             return static_cast<QWidget*>(
                 new LaunchLoadingView(QStringLiteral("Brisko Vella"), QStringLiteral("Проверка региона…")));
         }},
        {QStringLiteral("gate-region-blocked"),
         [](SnapshotContext&) { return static_cast<QWidget*>(new RegionBlockedView); }},
        {QStringLiteral("gate-agreement"),
         [](SnapshotContext& c) { return static_cast<QWidget*>(new EULAAcceptanceView(&c.state())); }},
        {QStringLiteral("gate-introduction-welcome"),
         [](SnapshotContext& c) {
             c.state();
             return static_cast<QWidget*>(new FirstLaunchOnboardingView(c.services()));
         }},
        {QStringLiteral("gate-introduction-archive"),
         [](SnapshotContext& c) {
             c.state();
             auto* view = new FirstLaunchOnboardingView(c.services());
             view->setStep(1);
             return static_cast<QWidget*>(view);
         }},
        {QStringLiteral("gate-introduction-permissions"),
         [](SnapshotContext& c) {
             c.state();
             auto* view = new FirstLaunchOnboardingView(c.services());
             view->setStep(2);
             return static_cast<QWidget*>(view);
         }},
    };
}
