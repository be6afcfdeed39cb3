#pragma once

#include <chrono>

// Lets a short-lived process hand the end of its work to a copy of itself
// that outlives it: the caller exits at once, so whoever waits for it (a
// shell, a script reading its output) goes on, while the copy finishes on
// its own. For sends to a server that the command line's result does not
// depend on.
class BackgroundContinuation
{
public:
    enum class Side {
        // The process that goes on to exit.
        caller,
        // The copy: only the calling thread runs in it.
        continuation,
        // The process could not be split; the caller finishes the work itself.
        unavailable,
    };

    // Splits the process. The continuation reads and writes nothing of the
    // caller's standard streams (they are /dev/null), leads a session of its
    // own, so the terminal's signals for the caller's job do not reach it,
    // yields the processor to the user's work (nice 10), and is killed once
    // limit has passed, whatever it is doing: the other threads are not
    // copied, and a lock one of them held stays held. Call it while the other
    // threads are idle.
    static Side split(std::chrono::seconds limit);
};
