#pragma once

#include <chrono>

#include <QByteArray>
#include <QList>

// Lets a short-lived process hand the end of its work to a process that
// outlives it: the caller exits at once, so whoever waits for it (a shell, a
// script reading its output) goes on, while the other process finishes on its
// own. For sends to a server that the command line's result does not depend
// on. Work that can start afresh from stored state goes to a program started
// once the caller has ended (startAfterExit), which costs the caller far less
// than a copy of itself (split).
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

    // Starts program with arguments (this program when program is empty) as
    // soon as this process has ended, in the same conditions as split's copy:
    // a session of its own, standard streams on /dev/null, nice 10, the
    // environment as now and no other open descriptor. Until then a waiter
    // holds this process's memory: its exit frees none of it (the waiter's
    // exec does), so it costs less than a process's normal end. The caller
    // exits soon after; until then the waiter's few kilobytes stay mapped.
    // The started program sets its own limit (endAfter). False when no
    // waiter could be started.
    static bool startAfterExit(const QByteArray& program, const QList<QByteArray>& arguments);
    // Kills this process once limit has passed; unblocks every signal.
    static void endAfter(std::chrono::seconds limit);
};
