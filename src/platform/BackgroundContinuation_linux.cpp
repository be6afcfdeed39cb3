#include "BackgroundContinuation.h"

#include <algorithm>
#include <csignal>

#include <cstring>
#include <new>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char** environ;

namespace {
constexpr int continuationNice = 10;
constexpr std::size_t waiterStack = 64 * 1024;

// What the waiter reads; in memory the caller never frees.
struct Handover
{
    int ended = -1;
    char** argv = nullptr;
    char** envp = nullptr;
};

// Runs on the caller's memory beside the caller until its exec, and with the
// caller's thread state (errno, cancellation, the sanitizers' view of the
// thread): direct system calls only, nothing that allocates or that the
// caller's threads may hold.
__attribute__((no_sanitize("address", "undefined"))) int waitForTheCallersEnd(void* data)
{
    const auto* handover = static_cast<const Handover*>(data);
    // Nothing of the caller's is held open while waiting: whoever reads the
    // caller's output sees its end when the caller ends.
    // (No call is made that would fail on good input: a failure writes errno.)
    const long nothing = ::syscall(SYS_openat, AT_FDCWD, "/dev/null", O_RDWR);
    for (long stream = 0; stream <= 2; ++stream) {
        if (nothing >= 0 && nothing != stream) {
            ::syscall(SYS_dup3, nothing, stream, 0);
        }
    }
    if (handover->ended > 3) {
        ::syscall(SYS_close_range, 3U, unsigned(handover->ended) - 1, 0U);
    }
    ::syscall(SYS_close_range, unsigned(handover->ended) + 1, ~0U, 0U);
    ::syscall(SYS_setsid);
    ::syscall(SYS_setpriority, PRIO_PROCESS, 0, continuationNice);
    // The pipe's last writer is the caller: its end closes when the caller ends.
    char byte;
    while (::syscall(SYS_read, handover->ended, &byte, 1) > 0) {
    }
    ::syscall(SYS_execve, handover->argv[0], handover->argv, handover->envp);
    ::syscall(SYS_exit, 127);
    return 127;
}
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
    endAfter(limit);
    return Side::continuation;
}

bool BackgroundContinuation::startAfterExit(const QByteArray& program, const QList<QByteArray>& arguments)
{
    // The kernel knows this program's file even when it was replaced since.
    std::vector<QByteArray> texts{program.isEmpty() ? QByteArrayLiteral("/proc/self/exe") : program};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::size_t environment = 0;
    while (environ[environment]) {
        ++environment;
    }
    std::size_t textBytes = 0;
    for (const QByteArray& text : texts) {
        textBytes += std::size_t(text.size()) + 1;
    }
    // One mapping for the waiter's stack and everything it reads: the caller
    // frees none of it, and the waiter's exec drops it with the rest.
    const std::size_t bytes = waiterStack + sizeof(Handover) + sizeof(char*) * (texts.size() + 1 + environment + 1)
                              + textBytes;
    void* mapping = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) {
        return false;
    }
    char* const base = static_cast<char*>(mapping);
    auto* handover = new (base + waiterStack) Handover;
    handover->argv = reinterpret_cast<char**>(handover + 1);
    handover->envp = handover->argv + texts.size() + 1;
    char* text = reinterpret_cast<char*>(handover->envp + environment + 1);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        handover->argv[i] = text;
        std::memcpy(text, texts[i].constData(), std::size_t(texts[i].size()) + 1);
        text += texts[i].size() + 1;
    }
    handover->argv[texts.size()] = nullptr;
    // The strings of the environment stay where they are: nothing frees them.
    std::copy(environ, environ + environment + 1, handover->envp);

    int ended[2];
    if (::pipe2(ended, O_CLOEXEC) != 0) {
        ::munmap(mapping, bytes);
        return false;
    }
    // The waiter puts its standard streams on /dev/null before it waits.
    if (ended[0] <= STDERR_FILENO) {
        const int moved = ::fcntl(ended[0], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        ::close(ended[0]);
        ended[0] = moved;
    }
    if (ended[0] < 0) {
        ::close(ended[1]);
        ::munmap(mapping, bytes);
        return false;
    }
    handover->ended = ended[0];
    // The waiter runs no handler of this process's, on this process's memory:
    // it is born with every signal blocked and keeps them so until its exec;
    // the program it starts unblocks them (endAfter).
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &before);
    const pid_t waiter = ::clone(waitForTheCallersEnd, base + waiterStack, CLONE_VM | SIGCHLD, handover);
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ::close(ended[0]);
    if (waiter < 0) {
        ::close(ended[1]);
        ::munmap(mapping, bytes);
        return false;
    }
    // ended[1] stays open until this process ends, which is the waiter's cue.
    return true;
}

void BackgroundContinuation::endAfter(std::chrono::seconds limit)
{
    sigset_t none;
    sigemptyset(&none);
    ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGALRM, SIG_DFL);
    ::alarm(unsigned(std::max<std::chrono::seconds::rep>(1, limit.count())));
}
