#include "AppEnvironment.h"

#include "DiscardingSinks.h"
#include "ProcessServices.h"
#include "platform/PlatformDefaultsStore.h"
#include "platform/PlatformPaths.h"
#include "platform/PlatformSystemFacts.h"
#include "platform/PlatformTrash.h"
#include "platform/PlatformVolumeSource.h"
#include "platform/PlatformWorkspace.h"
#include "server/HttpTransport.h"
#include "server/ServerServices.h"

#include <QProcessEnvironment>

AppEnvironment AppEnvironment::platform(const ProcessServices& process)
{
    AppEnvironment env;
    env.home = PlatformPaths::home();
    env.layout = HomeLayout::forThisSystem(env.home, QProcessEnvironment::systemEnvironment());
    env.fileSystem = process.fileSystem;
    env.defaults = PlatformDefaultsStore::open();
    env.defaultsFile = FilePath::fromString(PlatformDefaultsStore::location());
    env.queues = PlatformDefaultsStore::openQueues();
    env.clock = std::make_shared<SystemClock>();
    env.volumes = std::make_shared<PlatformVolumeSource>(QString(), env.home);
    env.systemFacts = std::make_shared<PlatformSystemFacts>();
    env.workspace = std::make_shared<PlatformWorkspace>();
    // The trash that moving to the Trash fills is the one the junk scan sizes.
    env.trash = std::make_shared<PlatformTrash>(env.layout->trash().parent(), env.fileSystem, env.clock,
                                                TrustedRoots::resolved(*env.fileSystem, {env.home, env.layout->userCaches()}));
    if (HttpTransport::offlineRequested()) {
        // Nothing is recorded to be sent later either.
        env.usage = std::make_shared<DiscardingUsageSink>();
        env.errors = std::make_shared<DiscardingErrorSink>();
    } else {
        env.usage = ServerServices::analytics(env.defaults, env.queues, env.clock, process.transport, process.gate);
        env.errors = ServerServices::errorReporter(env.defaults, env.queues, env.clock, process.transport, process.gate);
    }
    return env;
}
