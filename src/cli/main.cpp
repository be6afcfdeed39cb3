#include "CliCommands.h"
#include "CommandDispatcher.h"
#include "Console.h"

#include "app/ProcessServices.h"
#include "platform/PlatformDefaultsStore.h"
#include "server/ServerServices.h"

#include <QCoreApplication>
#include <QThreadPool>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {
// How long sends still running may go on after the command's output, in the
// process that finishes them: it ends within 0.4 s of the output.
constexpr std::chrono::milliseconds sendGrace{250};

// Every store is written through by now (each write of the defaults store is
// complete when it returns). A normal exit would wait for name lookups still
// running on the network library's threads, which an unanswering resolver
// keeps for many seconds; their answers are of no use any more.
[[noreturn]] void exitAtOnce(int exitCode)
{
#if defined(__SANITIZE_ADDRESS__)
    // The leak check would otherwise run at a normal exit only.
    __lsan_do_leak_check();
#endif
    std::_Exit(exitCode);
}
} // namespace

int main(int argc, char* argv[])
{
    // The scan publishes its results through the event loop, as in the window.
    QCoreApplication application(argc, argv);

    const ProcessServices process = ProcessServices::forApplication(application);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    if (arguments == QStringList{ServerServices::usageSenderArgument}) {
        ServerServices::sendQueuedUsage(PlatformDefaultsStore::open(), PlatformDefaultsStore::openQueues(),
                                        std::make_shared<SystemClock>(), process.transport, process.gate,
                                        sendGrace);
        exitAtOnce(0);
    }

    Console console;
    CommandDispatcher dispatcher(console, CliCommands::all(), process);

    // Usage events and error reports of the command outlive it, so that the
    // sends they started can finish beyond its exit; sends start while it works.
    ServerServices::startShortLivedProcess();
    const int exitCode = dispatcher.run(arguments);
    // The output is complete and handed over before anything is awaited.
    std::fflush(stdout);
    std::fflush(stderr);

    // Saving the settings hands work to the pool, which may hand reports back
    // to this thread: both are done before the sends are counted.
    QThreadPool::globalInstance()->waitForDone();
    ServerServices::finishSendsBeyondExit(*process.gate, sendGrace);
    QThreadPool::globalInstance()->waitForDone();
    std::fflush(stdout);
    std::fflush(stderr);
    exitAtOnce(exitCode);
}
