#pragma once

#include "FileSystem.h"
#include "ScopedDirectory.h"

#include <vector>

// The folders from a base folder down to the one being worked on, each opened
// from its parent without following a link, for walks that take a tree apart
// or copy it depth first without recursion.
//
// At most maxOpen descriptors are held however deep the tree goes: the
// highest folders give theirs up, and a folder is opened again, when the walk
// comes back to it, through ".." of the folder below, which is never a link;
// it must then be the same folder (device and inode) or pop() fails with
// ESTALE, so a folder moved away meanwhile cannot send the walk elsewhere.
//
// Holds only descriptors and numbers; the caller keeps the paths and hands
// them in for the file system's messages.
class FolderStack
{
public:
    // base: the folder the first push() opens from; the caller keeps it open.
    FolderStack(const FileSystem& fs, int base, std::size_t maxOpen = 64);

    // Opens name in the top folder (the base when empty) and makes it the
    // top. 0 or an errno (ELOOP or ENOTDIR for a link or a file). st, when
    // given, receives the folder's own stat.
    int push(const char* name, const QByteArray& fullPath, FileStat* st = nullptr);
    // Leaves the top folder; the one below (at parentPath) becomes the top.
    int pop(const QByteArray& parentPath);

    // The top folder's descriptor (the base when empty).
    int top() const;
    std::size_t depth() const { return m_levels.size(); }

private:
    struct Level
    {
        ScopedDirectory dir;
        quint64 device = 0;
        quint64 inode = 0;
    };

    const FileSystem& m_fs;
    int m_base;
    std::size_t m_maxOpen;
    std::vector<Level> m_levels;
    // Levels below this index have given up their descriptors.
    std::size_t m_firstOpen = 0;
};
