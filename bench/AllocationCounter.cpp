#include "AllocationCounter.h"

#include <atomic>

#ifdef WALK_BENCH_COUNT_ALLOCATIONS

#include <malloc.h>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void __libc_free(void* pointer);
}

namespace {

// Plain globals: allocations happen before main and after it, in any thread.
constinit std::atomic<bool> counting{false};
constinit std::atomic<qint64> allocationCount{0};
constinit std::atomic<qint64> liveBytes{0};
constinit std::atomic<qint64> peakBytes{0};

void noteAllocated(void* pointer)
{
    if (pointer == nullptr || !counting.load(std::memory_order_relaxed)) {
        return;
    }
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    const qint64 live = liveBytes.fetch_add(qint64(malloc_usable_size(pointer)), std::memory_order_relaxed)
        + qint64(malloc_usable_size(pointer));
    qint64 peak = peakBytes.load(std::memory_order_relaxed);
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
}

void noteFreed(void* pointer)
{
    if (pointer != nullptr && counting.load(std::memory_order_relaxed)) {
        liveBytes.fetch_sub(qint64(malloc_usable_size(pointer)), std::memory_order_relaxed);
    }
}

} // namespace

extern "C" {

void* malloc(size_t size)
{
    void* pointer = __libc_malloc(size);
    noteAllocated(pointer);
    return pointer;
}

void* calloc(size_t count, size_t size)
{
    void* pointer = __libc_calloc(count, size);
    noteAllocated(pointer);
    return pointer;
}

void* realloc(void* pointer, size_t size)
{
    noteFreed(pointer);
    void* moved = __libc_realloc(pointer, size);
    if (moved == nullptr && size != 0 && pointer != nullptr) {
        // The old block is still there.
        noteAllocated(pointer);
        return nullptr;
    }
    noteAllocated(moved);
    return moved;
}

void free(void* pointer)
{
    noteFreed(pointer);
    __libc_free(pointer);
}
}

bool AllocationCounter::isAvailable()
{
    return true;
}

void AllocationCounter::start()
{
    allocationCount.store(0);
    liveBytes.store(0);
    peakBytes.store(0);
    counting.store(true);
}

AllocationCounter::Figures AllocationCounter::stop()
{
    counting.store(false);
    return Figures{allocationCount.load(), peakBytes.load(), liveBytes.load()};
}

#else

bool AllocationCounter::isAvailable()
{
    return false;
}

void AllocationCounter::start() {}

AllocationCounter::Figures AllocationCounter::stop()
{
    return {};
}

#endif
