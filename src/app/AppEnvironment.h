#pragma once

#include "base/FilePath.h"
#include "model/ErrorReportSink.h"
#include "model/UsageEventSink.h"
#include "platform/Clock.h"
#include "platform/DefaultsStore.h"
#include "platform/FileSystem.h"
#include "platform/FolderChooser.h"
#include "platform/SystemFacts.h"
#include "platform/Trash.h"
#include "platform/VolumeSource.h"
#include "platform/Workspace.h"
#include "scan/HomeLayout.h"

#include <optional>

#include <chrono>

struct ProcessServices;

// The collaborators the application state is built from. The program uses
// the machine's own; tests hand in temporary folders, stores and fakes.
struct AppEnvironment
{
    FilePath home;
    // Where things live in the home. May be empty: the state then builds
    // this system's layout from the home alone, without the environment's
    // XDG variables.
    std::optional<HomeLayout> layout;
    FileSystemPtr fileSystem;
    DefaultsStorePtr defaults;
    // Where usage events wait to be sent; may be empty: they wait in defaults.
    DefaultsStorePtr queues;
    ClockPtr clock;
    VolumeSourcePtr volumes;
    // May be empty: the machine's own facts are read then.
    SystemFactsPtr systemFacts;
    WorkspacePtr workspace;
    TrashPtr trash;
    // May be empty: picking an archive folder then does nothing.
    FolderChooserPtr folderChooser;
    UsageEventSinkPtr usage;
    ErrorReportSinkPtr errors;
    // The defaults store's file. Beside it live the writer lock (".writer-lock"; QSettings keeps ".lock" for itself) and
    // the move journal (".move-journal"); empty: no lock and no journal.
    FilePath defaultsFile;
    // How long an operation waits for another process's writer lock.
    std::chrono::milliseconds lockWait{2000};

    // The running machine: $HOME and its layout (XDG variables and the
    // user-dirs file read once here), the process's file system, volumes,
    // trash and system facts, the defaults store of PlatformDefaultsStore,
    // and the analytics and error-report services of the maker's server on
    // the process's transport and gate (sinks that record nothing when
    // BRISKO_OFFLINE=1).
    static AppEnvironment platform(const ProcessServices& process);
};
