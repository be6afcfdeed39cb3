#pragma once

#include "platform/FileSystem.h"
#include "server/HttpTransport.h"
#include "server/RateLimitGate.h"

#include <QPointer>

#include <memory>

class QCoreApplication;

// What one process makes once and hands to everything that needs it: the
// machine's file system, the one transport to the maker's server and the
// per-host gate in front of its posts. The window's application and the
// command line's main build it; tests build their own.
struct ProcessServices
{
    FileSystemPtr fileSystem;
    // Lives on the main thread; may be gone at the very end of the process.
    QPointer<HttpTransport> transport;
    std::shared_ptr<RateLimitGate> gate;

    // The real file system, a transport that is a child of application (so
    // it ends with it; offline when BRISKO_OFFLINE asks for it) and a gate on
    // the system clock.
    static ProcessServices forApplication(QCoreApplication& application);
};
