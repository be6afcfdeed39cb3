#include "BackgroundContinuation.h"

#include <algorithm>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

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
    ::signal(SIGALRM, SIG_DFL);
    ::alarm(unsigned(std::max<std::chrono::seconds::rep>(1, limit.count())));
    return Side::continuation;
}
