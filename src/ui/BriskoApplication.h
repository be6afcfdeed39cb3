#pragma once

#include "DialogConfirmer.h"
#include "WindowServices.h"
#include "app/AppEnvironment.h"
#include "app/LaunchDuties.h"
#include "app/ProcessServices.h"

#include <QApplication>

#include <chrono>
#include <memory>

class AdService;
class AppState;
class FanControlService;
class FeedbackService;
class MainWindow;
class RegionGateService;
class UpdateService;

// The program: creates, once and for its whole life, the application state,
// the banner service, the update service, the region gate and the fan
// control service (in this order), plus the feedback service and the
// confirmation dialogs; forces Fusion with the window's style and palette;
// makes the fans' termination hook; and opens the one window.
//
// Command line: --quit-after-ms N ends the event loop after N milliseconds
// (used to check that an installed copy starts).
class BriskoApplication : public QApplication
{
    Q_OBJECT
public:
    BriskoApplication(int& argc, char** argv);
    ~BriskoApplication() override;

    // Shows the window and runs the event loop; the exit status.
    int run();
    // After run: closes the window, ends the services (a boost goes back to
    // the system) and gives the sends still running at most sendGrace. The
    // object must then not be destroyed but the process ended with _Exit:
    // destroying the application waits for name lookups still running on
    // the network library's threads, which a resolver that never answers
    // keeps for many seconds. Every store is written through by then.
    void shutDown();

    static constexpr std::chrono::milliseconds sendGrace{250};

    const WindowServices& services() const { return m_services; }

private:
    void applyLook();
    LaunchDuties launchDuties() const;
    QWidget* makeContent();

    ProcessServices m_process;
    AppEnvironment m_environment;
    std::unique_ptr<AppState> m_appState;
    std::unique_ptr<AdService> m_ads;
    std::unique_ptr<UpdateService> m_updates;
    std::unique_ptr<RegionGateService> m_regionGate;
    std::unique_ptr<FanControlService> m_fans;
    std::unique_ptr<FeedbackService> m_feedback;
    DialogConfirmer m_confirmer;
    WindowServices m_services;
    std::unique_ptr<MainWindow> m_window;
};
