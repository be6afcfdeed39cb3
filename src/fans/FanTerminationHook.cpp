#include "FanTerminationHook.h"

#include "TerminationSignalGuard.h"

void FanTerminationHook::install(QCoreApplication& application, FanControlService& service, TerminationFlag& flag,
                                 std::function<void(bool released)> afterSignalRelease)
{
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &service,
                     [&service] { service.prepareForAppTermination().waitForFinished(); });
    TerminationSignalGuard::install(flag, [release = service.shutdownRelease(),
                                           afterSignalRelease = std::move(afterSignalRelease)](int) {
        const bool released = release->releaseNow();
        if (afterSignalRelease) {
            afterSignalRelease(released);
        }
    });
}
