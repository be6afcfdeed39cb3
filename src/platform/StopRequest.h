#pragma once

#include <functional>

// Asked by long work at each item boundary (between two files, folders or
// entries, never inside one); true means stop there. An empty request never
// stops. Called on the worker thread.
using StopRequest = std::function<bool()>;

inline bool shouldStop(const StopRequest& stop)
{
    return stop && stop();
}
