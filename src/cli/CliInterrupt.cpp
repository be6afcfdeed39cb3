#include "CliInterrupt.h"

#include "Console.h"
#include "app/AppState.h"

#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};
std::atomic<int> g_count{0};
struct sigaction g_previous;

extern "C" void onInterrupt(int)
{
    // Only async-signal-safe calls here.
    if (g_count.fetch_add(1) == 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
        return;
    }
    ::signal(SIGINT, SIG_DFL);
    ::raise(SIGINT);
}

} // namespace

int CliInterrupt::installHandler()
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return -1;
    }
    g_count = 0;
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGINT, &action, &g_previous) != 0)
        return -1;
    return g_pipe[0];
}

void CliInterrupt::removeHandler()
{
    ::sigaction(SIGINT, &g_previous, nullptr);
    char drain[16];
    while (g_pipe[0] >= 0 && ::read(g_pipe[0], drain, sizeof drain) > 0) {
    }
}

std::function<void()> CliInterrupt::stopping(AppState& state, Console* console)
{
    return [&state, console] {
        if (console) {
            console->errLine(QStringLiteral("\nОстанавливаю после текущего элемента… (ещё раз Ctrl+C — выйти сразу)"));
        }
        state.requestStop();
    };
}

CliInterrupt::CliInterrupt(std::function<void()> onFirst)
    : m_onFirst(std::move(onFirst))
{
    const int fd = installHandler();
    if (fd < 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this, fd] {
        char drain[16];
        while (::read(fd, drain, sizeof drain) > 0) {
        }
        if (m_onFirst)
            m_onFirst();
    });
}

CliInterrupt::~CliInterrupt()
{
    m_notifier.reset();
    removeHandler();
}
