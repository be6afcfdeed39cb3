#include "CrashHandler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cxxabi.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <typeinfo>

namespace {

constexpr int fatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t alternateStackBytes = 64 * 1024;

char crashPath[4096];
alignas(16) char alternateStack[alternateStackBytes];
volatile sig_atomic_t handling = 0;
bool installed = false;

void writeAll(int fd, const char* data, size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        data += written;
        length -= size_t(written);
    }
}

void writeText(int fd, const char* text)
{
    writeAll(fd, text, std::strlen(text));
}

// skip: frames of the handler itself at the top.
void writeStack(int fd, int skip)
{
    void* frames[CrashHandler::maxFrames + 4];
    const int count = ::backtrace(frames, CrashHandler::maxFrames + skip);
    if (count > skip) {
        ::backtrace_symbols_fd(frames + skip, std::min(count - skip, CrashHandler::maxFrames), fd);
    }
}

int openCrashFile()
{
    return ::open(crashPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

const char* signalName(int signal)
{
    switch (signal) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "signal";
    }
}

const char* signalMeaning(int signal)
{
    switch (signal) {
    case SIGSEGV:
        return "invalid memory access";
    case SIGBUS:
        return "bus error";
    case SIGFPE:
        return "arithmetic error";
    case SIGILL:
        return "illegal instruction";
    case SIGABRT:
        return "abort";
    default:
        return "fatal signal";
    }
}

void onFatalSignal(int signal)
{
    if (!handling) {
        handling = 1;
        const int fd = openCrashFile();
        if (fd >= 0) {
            writeText(fd, "brisko-crash\nexception: ");
            writeText(fd, signalName(signal));
            writeText(fd, "\nmessage: Fatal signal ");
            writeText(fd, signalName(signal));
            writeText(fd, " (");
            writeText(fd, signalMeaning(signal));
            writeText(fd, ")\nstack:\n");
            writeStack(fd, 1);
            ::close(fd);
        }
    }
    // SA_RESETHAND restored the default action; the signal is blocked until
    // the handler returns and then ends the process as it would have.
    ::raise(signal);
}

std::string oneLine(std::string text)
{
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

std::string demangled(const char* name)
{
    int status = 0;
    char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string result = (status == 0 && readable) ? readable : name;
    std::free(readable);
    return result;
}

[[noreturn]] void onTerminate()
{
    if (!handling) {
        handling = 1;
        std::string type = "none";
        std::string message;
        if (const std::type_info* thrown = abi::__cxa_current_exception_type()) {
            type = demangled(thrown->name());
            try {
                std::rethrow_exception(std::current_exception());
            } catch (const std::exception& exception) {
                message = exception.what();
            } catch (...) {
            }
        } else {
            message = "std::terminate called without an active exception";
        }
        if (message.empty()) {
            message = type;
        }
        const int fd = openCrashFile();
        if (fd >= 0) {
            writeText(fd, "brisko-crash\nexception: ");
            writeText(fd, oneLine(type).c_str());
            writeText(fd, "\nmessage: ");
            writeText(fd, oneLine(message).c_str());
            writeText(fd, "\nstack:\n");
            writeStack(fd, 1);
            ::close(fd);
        }
    }
    // The report is written; the abort that follows must not replace it.
    ::signal(SIGABRT, SIG_DFL);
    std::abort();
}

} // namespace

bool CrashHandler::install(const QString& crashFilePath)
{
    const QByteArray path = QFile::encodeName(crashFilePath);
    if (path.isEmpty() || size_t(path.size()) >= sizeof crashPath) {
        return false;
    }
    QDir().mkpath(QFileInfo(crashFilePath).absolutePath());
    std::memcpy(crashPath, path.constData(), size_t(path.size()));
    crashPath[path.size()] = '\0';
    if (installed) {
        return true;
    }
    installed = true;

    // The first backtrace loads the unwinder, which allocates; later calls,
    // inside the handler, then do not.
    void* warmUp[2];
    ::backtrace(warmUp, 2);

    stack_t stack {};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    ::sigaltstack(&stack, nullptr);

    struct sigaction action {};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    for (int signal : fatalSignals) {
        ::sigaction(signal, &action, nullptr);
    }
    std::set_terminate(onTerminate);
    return true;
}
