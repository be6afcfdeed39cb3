// The settings, cooling, overview panels and feedback screens of the snapshot
// program.
#include "SnapshotContext.h"
#include "SnapshotScreen.h"

#include "CleanArchivePanel.h"
#include "CoolingView.h"
#include "FeedbackSheet.h"
#include "MacHealthDashboardSection.h"
#include "SafeCleanupPanel.h"
#include "SettingsView.h"
#include "app/AppState.h"
#include "fans/FanControlService.h"
#include "fans/SmcSimulator.h"
#include "server/FeedbackService.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QVBoxLayout>

namespace {
template <typename T>
void await(const QFuture<T>& future)
{
    // The result is published through the event loop.
    while (!future.isFinished())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// The cooling section on a simulated machine. The service becomes a child of
// the holder after the view, so it outlives the view when the holder goes.
QWidget* cooling(SnapshotContext& c, const QString& profile, bool writesRefused)
{
    c.state();
    static TerminationFlag termination;
    const auto clock = std::make_shared<SystemPausingClock>();
    const std::shared_ptr<SmcSimulator> sim = SmcSimulator::create(profile, clock);
    sim->setWritesRefused(writesRefused);
    FanControlEnvironment env;
    env.machine.transport = sim;
    env.machine.modelIdentifier = sim->modelIdentifier();
    env.machine.clock = clock;
    env.fanProfile = SMCFanProfile::detect(sim->modelIdentifier());
    env.hardwareKind = SMCHardwareProfile::detect(sim->modelIdentifier());
    env.errors = c.fixture().errors;
    env.termination = &termination;
    env.runtimeRisk = [] { return AppRuntimeGuard::Risk::none; };
    auto* fans = new FanControlService(env);
    await(fans->refreshSnapshot());
    WindowServices services = c.services();
    services.fans = fans;
    auto* holder = new QWidget;
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new CoolingView(services, holder));
    fans->setParent(holder);
    return holder;
}

// A panel of the overview on the window's background, as the overview shows it.
QWidget* onBackground(QWidget* panel)
{
    auto* holder = new QWidget;
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(24, 24, 24, 24);
    panel->setParent(holder);
    layout->addWidget(panel);
    layout->addStretch(1);
    return holder;
}
} // namespace

QList<SnapshotScreen> panelsSnapshotScreens()
{
    return {
        {QStringLiteral("settings"),
         [](SnapshotContext& c) {
             c.state();
             return static_cast<QWidget*>(new SettingsView(c.services()));
         },
         QSize(1080, 2300)},
        {QStringLiteral("cooling"), [](SnapshotContext& c) { return cooling(c, QStringLiteral("intel"), false); },
         QSize(1080, 900)},
        {QStringLiteral("cooling-monitoring-only"),
         [](SnapshotContext& c) { return cooling(c, QStringLiteral("m5"), true); }, QSize(1080, 700)},
        {QStringLiteral("health-first-run"),
         [](SnapshotContext& c) {
             c.state();
             return onBackground(new MacHealthDashboardSection(c.services()));
         },
         QSize(1000, 240)},
        {QStringLiteral("health-dashboard"),
         [](SnapshotContext& c) {
             await(c.state().runQuickHealthScan());
             return onBackground(new MacHealthDashboardSection(c.services()));
         },
         QSize(1000, 480)},
        {QStringLiteral("safe-cleanup"),
         [](SnapshotContext& c) {
             c.state().scanSafeCleanup();
             return onBackground(new SafeCleanupPanel(c.services()));
         },
         QSize(1000, 260)},
        {QStringLiteral("clean-archive"),
         [](SnapshotContext& c) {
             AppState& state = c.state();
             AppSettings settings = state.settings();
             settings.archivePath = c.fixture().home.makeDir(QStringLiteral("Архивный диск/Brisko Archive"));
             state.setSettings(settings);
             c.fixture().home.makeFile(QStringLiteral("Documents/Договор.pdf"), 4096);
             await(state.createCleanArchive(CleanArchiveProfile::essential));
             return onBackground(new CleanArchivePanel(c.services()));
         },
         QSize(1000, 420)},
        {QStringLiteral("feedback-sheet"),
         [](SnapshotContext& c) {
             c.state();
             auto* feedback = new FeedbackService(
                 nullptr, ClientInfo(), FeedbackDiagnostics::platform(c.fixture().store, c.fixture().home.path()));
             WindowServices services = c.services();
             services.feedback = feedback;
             auto* sheet = new FeedbackSheet(services);
             feedback->setParent(sheet);
             // A message that is too short shows the result line.
             sheet->send();
             return static_cast<QWidget*>(sheet);
         },
         QSize(560, 520)},
    };
}
