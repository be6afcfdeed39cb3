#pragma once

#include "FileSystem.h"

#include <utility>

// A directory descriptor opened through a FileSystem, closed through it when
// the holder goes out of scope, so that no early return leaks one.
class ScopedDirectory
{
public:
    explicit ScopedDirectory(const FileSystem& fs, int fd = -1)
        : m_fs(&fs)
        , m_fd(fd)
    {
    }
    ~ScopedDirectory() { reset(); }

    ScopedDirectory(const ScopedDirectory&) = delete;
    ScopedDirectory& operator=(const ScopedDirectory&) = delete;
    ScopedDirectory(ScopedDirectory&& other) noexcept
        : m_fs(other.m_fs)
        , m_fd(std::exchange(other.m_fd, -1))
    {
    }
    ScopedDirectory& operator=(ScopedDirectory&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_fs = other.m_fs;
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }

    // For the open calls that report the descriptor through a pointer: closes
    // what is held and receives the new one.
    int* receive()
    {
        reset();
        return &m_fd;
    }

    void reset(int fd = -1)
    {
        if (m_fd >= 0) {
            m_fs->closeDirectory(m_fd);
        }
        m_fd = fd;
    }

private:
    const FileSystem* m_fs;
    int m_fd;
};
