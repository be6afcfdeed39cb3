#pragma once

#include "AppFixture.h"
#include "LoopbackMakerServer.h"
#include "RecordingWorkspace.h"

#include "WindowServices.h"
#include "app/AppState.h"
#include "server/HttpTransport.h"
#include "server/RegionGateService.h"

#include <QUrl>

// What the gate and the window are built from in tests: an application
// state over a temporary home, the region gate asking a loopback stand-in for
// the maker's server, and a workspace that records what was opened.
struct GateTestBed
{
    AppFixture fixture;
    LoopbackMakerServer server;
    HttpTransport transport;
    RegionGateService regionGate{&transport, QLocale(QLocale::Russian, QLocale::Russia)};
    std::unique_ptr<AppState> appState;
    RecordingWorkspace workspace;
    bool listening = server.listen();

    GateTestBed()
    {
        appState = std::make_unique<AppState>(fixture.environment());
        AppSettings settings = appState->settings();
        settings.regionCheckURL = server.endpoint(QStringLiteral("region.php"));
        appState->setSettings(settings);
    }

    void setFlags(bool eulaAccepted, bool onboardingCompleted)
    {
        AppSettings settings = appState->settings();
        settings.eulaAccepted = eulaAccepted;
        settings.onboardingCompleted = onboardingCompleted;
        appState->setSettings(settings);
    }

    WindowServices services()
    {
        WindowServices services;
        services.appState = appState.get();
        services.regionGate = &regionGate;
        services.workspace = &workspace;
        return services;
    }
};
