#pragma once

#include <QString>

// Leaves a report of the process's death in a file, for the next launch to
// send (a dying process cannot post): uncaught C++ exceptions (through
// std::set_terminate; the message is the exception's what(), or its type
// name) and the fatal signals SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT,
// each with the first maxFrames frames of the stack.
//
// The signal handler uses only async-signal-safe calls: the file name is
// prepared at installation, the text is written with write(2), the frames
// with backtrace_symbols_fd, on an alternate stack so that a stack overflow
// is reported too. After writing, the signal is raised again with its default
// action, so the process ends as it would have without the handler.
class CrashHandler
{
public:
    static constexpr int maxFrames = 15;

    // Call from the main thread, early. A later call only changes the file.
    // False when the path is too long to be kept.
    static bool install(const QString& crashFilePath);
};
