#pragma once

#include <atomic>

// Set once when the program is about to end; from then on no fan poll, boost
// or privileged request starts. Setting it is safe inside a signal handler.
class TerminationFlag
{
public:
    bool isSet() const { return m_set.load(std::memory_order_acquire); }
    void set() { m_set.store(true, std::memory_order_release); }

    // The program's own flag, shared by everything that must stop at quit.
    static TerminationFlag& process();

private:
    std::atomic<bool> m_set = false;
    static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from signal handlers");
};
