#pragma once

#include <QtGlobal>

// One entry of a UsageTree, packed: the tree holds one of these per file or
// folder and keeps every name in one shared arena, so a map of a million
// entries costs tens of megabytes, not a QObject or QString each.
struct UsageNode
{
    enum Flag : quint8 {
        Directory = 1,
        // The folder could not be opened or read: its contents are not counted.
        Unreadable = 2,
        // A mount point of another file system, not entered.
        OtherFileSystem = 4,
        // A further name of an inode already counted elsewhere: 0 bytes here.
        RepeatedInode = 8,
        // A mount of a kernel pseudo file system (proc, sysfs, …), never entered.
        PseudoFileSystem = 16,
        SymbolicLink = 32,
    };

    // Allocated bytes of the entry and, for a folder, of everything below it.
    qint64 size = 0;
    // Entries of the subtree, the entry itself included.
    qint64 entries = 1;
    quint64 nameOffset = 0;
    quint32 parent = 0;
    // Children lie next to each other, largest first: firstChild .. firstChild + childCount - 1.
    quint32 firstChild = 0;
    quint32 childCount = 0;
    quint16 nameLength = 0;
    quint8 flags = 0;

    bool has(Flag flag) const { return (flags & flag) != 0; }
};

static_assert(sizeof(UsageNode) <= 64, "a map entry must stay small");
