#pragma once

#include "AppFixture.h"
#include "Confirmer.h"
#include "WindowServices.h"
#include "scan/ScanCategory.h"

#include <QFuture>
#include <QTemporaryDir>

#include <memory>

class AdService;
class AppState;

// The fixture data behind every snapshot: a temporary home with real files
// (Cyrillic names, a name that is not valid UTF-8, old projects, installers,
// caches), three volumes, an application state over them, a banner service
// without network, and confirmations that never open (snapshots show the
// screen, not the question). One context per rendered screen.
//
// Screens that need more services (updates, fans, feedback, region) build
// them here from the same fixture and put them into services().
class SnapshotContext
{
public:
    SnapshotContext();
    ~SnapshotContext();

    AppFixture& fixture() { return m_fixture; }
    AppState& state();
    AdService& ads();
    WindowServices& services() { return m_services; }

    // Runs one category's scan to its end.
    void scan(ScanCategory category);
    // Maps the home to its end (AppState::runUsageScan).
    void map();
    // Forgets the volumes, as on a machine whose volume list cannot be read;
    // call before state() is first used.
    void withoutVolumes() { m_noVolumes = true; }

private:
    class SilentConfirmer : public Confirmer
    {
    public:
        void confirm(QWidget*, const ConfirmationRequest&, std::function<void(bool)>) override {}
    };

    void populateHome();
    static void waitFor(const QFuture<void>& done);

    AppFixture m_fixture;
    QTemporaryDir m_pictures;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<AdService> m_ads;
    SilentConfirmer m_confirmer;
    WindowServices m_services;
    bool m_noVolumes = false;
};
