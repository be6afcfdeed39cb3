#include "BriskoApplication.h"

#include "BriskoStyle.h"
#include "ContentView.h"
#include "DialogFolderChooser.h"
#include "IconSet.h"
#include "MainWindow.h"
#include "Theme.h"
#include "app/AppState.h"
#include "fans/FanControlEnvironment.h"
#include "fans/FanControlService.h"
#include "fans/FanTerminationHook.h"
#include "fans/TerminationFlag.h"
#include "server/AdService.h"
#include "server/ClientInfo.h"
#include "server/ErrorReporter.h"
#include "server/FeedbackDiagnostics.h"
#include "server/FeedbackService.h"
#include "server/HttpTransport.h"
#include "server/RegionGateService.h"
#include "server/ServerServices.h"
#include "update/UpdateService.h"

#include <QFile>
#include <QThreadPool>
#include <QTimer>

BriskoApplication::BriskoApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Brisko Vella"));
    setApplicationDisplayName(QStringLiteral("Brisko Vella"));
    setOrganizationName(QStringLiteral("Korvane"));
    setDesktopFileName(QStringLiteral("ru.korvane.BriskoVella"));
    applyLook();

    m_process = ProcessServices::forApplication(*this);
    HttpTransport* transport = m_process.transport;
    m_environment = AppEnvironment::platform(m_process);
    m_environment.folderChooser = std::make_shared<DialogFolderChooser>();

    // The long-lived services, in the order the window's screens expect them.
    m_appState = std::make_unique<AppState>(m_environment);
    // Before anything can start a new batch: finish what a killed run left.
    m_appState->recoverInterruptedWork();
    m_ads = std::make_unique<AdService>(transport, m_environment.defaults, AdService::defaultPictureFolder());
    m_updates.reset(UpdateService::forPlatform(transport, m_process.fileSystem, m_environment.errors, nullptr));
    m_regionGate = std::make_unique<RegionGateService>(transport);
    m_fans = std::make_unique<FanControlService>(FanControlEnvironment::platform(m_environment.errors));
    m_feedback = std::make_unique<FeedbackService>(
        transport, ClientInfo::current(),
        FeedbackDiagnostics::platform(m_environment.defaults, m_environment.home.toString()));

    m_services.appState = m_appState.get();
    m_services.ads = m_ads.get();
    m_services.updates = m_updates.get();
    m_services.regionGate = m_regionGate.get();
    m_services.fans = m_fans.get();
    m_services.feedback = m_feedback.get();
    m_services.confirmer = &m_confirmer;
    m_services.workspace = m_environment.workspace.get();

    // A boost never outlives the program: on quit, and on SIGTERM, SIGINT
    // and SIGHUP, the fans go back to the system.
    FanTerminationHook::install(*this, *m_fans, TerminationFlag::process());
    // The relaunch into an update ends this process too.
    connect(m_updates.get(), &UpdateService::appWillRelaunchForUpdate, m_fans.get(),
            [fans = m_fans.get()] { fans->prepareForAppTermination(); });

    m_window = std::make_unique<MainWindow>(m_services, [this] { return makeContent(); }, launchDuties());
    connect(m_window.get(), &MainWindow::quitRequested, this, &QCoreApplication::quit, Qt::QueuedConnection);
}

BriskoApplication::~BriskoApplication()
{
    m_window.reset();
    // Background work (settings saves, scans) must not outlive what it uses.
    QThreadPool::globalInstance()->waitForDone();
}

void BriskoApplication::shutDown()
{
    m_window.reset();
    QThreadPool::globalInstance()->waitForDone();
    ServerServices::finishSends(*m_process.gate, sendGrace);
    // In the reverse order of their making, as the destructor would.
    m_feedback.reset();
    m_fans.reset();
    m_regionGate.reset();
    m_updates.reset();
    m_ads.reset();
    m_appState.reset();
    QThreadPool::globalInstance()->waitForDone();
}

void BriskoApplication::applyLook()
{
    // Fusion always, so that a desktop theme cannot change the window.
    setStyle(new BriskoStyle);
    const bool dark = qgetenv("BRISKO_THEME") == "dark";
    setPalette(dark ? Theme::darkPalette() : Theme::lightPalette());

    QIcon icon;
    QFile svg(QStringLiteral(":/brand/BriskoVella.svg"));
    const QByteArray bytes = svg.open(QIODevice::ReadOnly) ? svg.readAll() : QByteArray();
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(IconSet::renderSvg(bytes, Qt::black, QSize(size, size), 1.0));
    }
    setWindowIcon(icon);
}

LaunchDuties BriskoApplication::launchDuties() const
{
    LaunchDuties duties;
    duties.ads = m_ads.get();
    UpdateService* updates = m_updates.get();
    duties.checkForUpdates = [updates](const QString& url) { return updates->check(url); };
    if (!HttpTransport::offlineRequested()) {
        // Offline nothing is recorded for later, crash reports included.
        duties.installCrashHandler = &ErrorReporter::installCrashHandler;
        const DefaultsStorePtr defaults = m_environment.defaults;
        const DefaultsStorePtr queues = m_environment.queues;
        const ClockPtr clock = m_environment.clock;
        const ProcessServices process = m_process;
        duties.flushAnalytics = [defaults, queues, clock, process](const QString& endpoint, bool enabled) {
            return ServerServices::analytics(defaults, queues, clock, process.transport, process.gate)
                ->flush(endpoint, enabled);
        };
    }
    return duties;
}

QWidget* BriskoApplication::makeContent()
{
    return new ContentView(m_services);
}

int BriskoApplication::run()
{
    const QStringList arguments = QCoreApplication::arguments();
    const qsizetype quitAfter = arguments.indexOf(QStringLiteral("--quit-after-ms"));
    if (quitAfter >= 0 && quitAfter + 1 < arguments.size()) {
        bool ok = false;
        const int milliseconds = arguments.at(quitAfter + 1).toInt(&ok);
        if (ok && milliseconds >= 0) {
            QTimer::singleShot(milliseconds, this, &QCoreApplication::quit);
        }
    }
    m_window->show();
    return exec();
}
