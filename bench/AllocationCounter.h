#pragma once

#include <QtGlobal>

// Counts heap use of the whole process (every thread, Qt's own allocations
// included) between start() and stop(). The counting replaces malloc and
// friends for the benchmark executable, forwarding to the C library's own
// allocator; builds with sanitizers keep their allocator and count nothing.
class AllocationCounter
{
public:
    struct Figures
    {
        qint64 allocations = 0;
        // Highest amount of heap held above the level at start().
        qint64 peakBytes = 0;
        // Heap still held at stop() above the level at start().
        qint64 retainedBytes = 0;
    };

    static bool isAvailable();
    static void start();
    static Figures stop();
};
