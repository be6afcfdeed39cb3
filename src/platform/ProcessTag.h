#pragma once

#include <QByteArray>

// Names the running process across reboots, for hidden scratch entries
// ("<prefix><tag>-<random>") that a killed process leaves behind: a later
// run removes such an entry only when the process that made it is gone.
class ProcessTag
{
public:
    // "<boot id, 32 hex digits>-<pid>".
    static QByteArray current();
    // prefix + current() + "-" + a fresh random part.
    static QByteArray uniqueName(const QByteArray& prefix);
    // Whether the entry named name (prefix + tag + …) was made by a process
    // that no longer runs: another boot, or no process of that id now. An
    // entry without a readable tag is never called stale.
    static bool makerIsGone(const QByteArray& name, const QByteArray& prefix);
};
