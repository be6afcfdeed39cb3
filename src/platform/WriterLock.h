#pragma once

#include "base/FilePath.h"

#include <QString>

#include <chrono>
#include <memory>

// One writer at a time across processes: an advisory lock on a file beside
// the defaults store, held by whichever process changes files or the move
// log. The window and every brisko command take it around such operations.
// Released when the object goes away (and by the kernel when the process
// dies, however it dies).
class WriterLock
{
public:
    ~WriterLock();
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

    // Takes the lock, trying again for up to wait while another process
    // holds it. Nothing, with the reason in error, when it stays taken or the
    // lock file cannot be opened (its folder is made when missing).
    static std::shared_ptr<WriterLock> acquire(const FilePath& lockFile, std::chrono::milliseconds wait,
                                               QString* error);

private:
    explicit WriterLock(int fd);
    int m_fd;
};
