#include "ProcessServices.h"

#include "platform/PlatformFileSystem.h"

#include <QCoreApplication>

ProcessServices ProcessServices::forApplication(QCoreApplication& application)
{
    ProcessServices services;
    services.fileSystem = std::make_shared<PlatformFileSystem>();
    auto* transport = new HttpTransport(&application);
    transport->setOffline(HttpTransport::offlineRequested());
    services.transport = transport;
    services.gate = std::make_shared<RateLimitGate>(std::make_shared<SystemClock>());
    return services;
}
