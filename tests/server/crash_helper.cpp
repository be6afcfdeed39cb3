// A program that dies on request, for the crash report tests:
//   crash_helper CRASH_FILE segv|fpe|abort|exception|foreign
#include "server/CrashHandler.h"

#include <QString>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

[[noreturn]] void die(const char* mode)
{
    const QString how = QString::fromLatin1(mode);
    if (how == QLatin1String("segv")) {
        std::raise(SIGSEGV);
    } else if (how == QLatin1String("fpe")) {
        std::raise(SIGFPE);
    } else if (how == QLatin1String("abort")) {
        std::abort();
    } else if (how == QLatin1String("exception")) {
        throw std::runtime_error("Диск отключён во время переноса");
    } else if (how == QLatin1String("foreign")) {
        throw 42;
    }
    std::fprintf(stderr, "unknown mode %s\n", mode);
    std::exit(2);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3 || !CrashHandler::install(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "usage: crash_helper CRASH_FILE MODE\n");
        return 2;
    }
    die(argv[2]);
}
