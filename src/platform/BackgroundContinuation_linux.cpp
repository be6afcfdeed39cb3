#include "BackgroundContinuation.h"

#include <algorithm>
#include <csignal>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {
constexpr int continuationNice = 10;
} // namespace

BackgroundContinuation::Side BackgroundContinuation::split(std::chrono::seconds limit)
{
    const pid_t pid = ::fork();
    if (pid < 0) {
        return Side::unavailable;
    }
    if (pid > 0) {
        return Side::caller;
    }
    ::setsid();
    const int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (nothing >= 0) {
        for (int stream = 0; stream <= 2; ++stream) {
            ::dup2(nothing, stream);
        }
        if (nothing > 2) {
            ::close(nothing);
        }
    }
    // The command that follows goes first, yet even a busy machine leaves
    // the copy enough to end within its limit (an idle class would not).
    ::setpriority(PRIO_PROCESS, 0, continuationNice);
    ::signal(SIGALRM, SIG_DFL);
    ::alarm(unsigned(std::max<std::chrono::seconds::rep>(1, limit.count())));
    return Side::continuation;
}
