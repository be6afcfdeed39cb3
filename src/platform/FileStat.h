#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

// What one stat of a path tells. allocatedSize is st_blocks * 512: the space
// the file takes on disk, which is what the user gets back by moving it.
struct FileStat
{
    bool isDirectory = false;
    bool isSymlink = false;
    qint64 size = 0;
    qint64 allocatedSize = 0;
    bool hasAllocatedSize = false;
    // Content modification time, milliseconds since the Unix epoch.
    qint64 modifiedMs = 0;
    bool hasModified = false;
    bool isRegular = false;
    // Permission bits (07777) and the exact times, for copies that keep them.
    unsigned permissions = 0;
    qint64 modifiedNs = 0;
    qint64 accessedNs = 0;
    quint64 device = 0;
    quint64 inode = 0;
    // Names the inode has; above 1, another name may count the same blocks.
    quint64 linkCount = 1;

    // The space on disk where the file system tells it, else the length.
    qint64 space() const { return hasAllocatedSize ? allocatedSize : size; }
};

// One child of a shallow listing. The stat is of the entry itself (links are
// not followed), so a symbolic link to a folder is not a directory here.
struct DirEntry
{
    QByteArray name;
    FileStat stat;
    bool statOk = false;
};

// Raw result of reading one open directory: names and the kernel's d_type
// hints, "." and ".." already dropped. Hidden names are kept; callers decide.
struct DirectoryNames
{
    enum class Kind : quint8 { Unknown, Directory, Regular, Symlink, Other };

    struct Name
    {
        qsizetype offset;
        qsizetype length;
        Kind kind;
    };

    QByteArray buffer;
    QList<Name> names;

    void clear()
    {
        buffer.clear();
        names.clear();
    }
};
