#pragma once

#include <QPointer>

class AdService;
class AppState;
class Confirmer;
class FanControlService;
class FeedbackService;
class RegionGateService;
class UpdateService;
class Workspace;

// The long-lived services every view of the window observes and calls. The
// application object owns them for the life of the process; views hold these
// plain pointers and never delete them.
struct WindowServices
{
    AppState* appState = nullptr;
    AdService* ads = nullptr;
    UpdateService* updates = nullptr;
    RegionGateService* regionGate = nullptr;
    FanControlService* fans = nullptr;
    FeedbackService* feedback = nullptr;
    // Asks before destructive operations; dialogs in the window, a script in tests.
    Confirmer* confirmer = nullptr;
    // Opens web pages, mail and system settings; reveals files.
    Workspace* workspace = nullptr;
};
