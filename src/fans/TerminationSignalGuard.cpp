#include "TerminationSignalGuard.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};
std::atomic<TerminationFlag*> signalFlag = nullptr;

void onTerminationSignal(int signal)
{
    const int savedErrno = errno;
    if (TerminationFlag* flag = signalFlag.load()) {
        flag->set();
    }
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

bool TerminationSignalGuard::install(TerminationFlag& flag, Action action)
{
    static std::atomic<bool> installed = false;
    if (installed.exchange(true)) {
        return false;
    }
    if (::pipe2(signalPipe, O_CLOEXEC) != 0) {
        return false;
    }
    signalFlag = &flag;

    std::thread([action = std::move(action)] {
        unsigned char byte = 0;
        for (;;) {
            const ssize_t n = ::read(signalPipe[0], &byte, 1);
            if (n == 1) {
                break;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return;
        }
        const int signal = byte;
        if (action) {
            action(signal);
        }
        // End the way the signal would have: the parent sees the signal.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        ::_exit(128 + signal);
    }).detach();

    struct sigaction handler = {};
    handler.sa_handler = &onTerminationSignal;
    sigemptyset(&handler.sa_mask);
    handler.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(signal, &handler, nullptr);
    }
    return true;
}
