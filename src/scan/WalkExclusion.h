#pragma once

#include <QByteArray>
#include <QList>

#include <bitset>

struct AppSettings;

enum class WalkExclusionMode {
    // The excluded folder names are exactly the settings' excludedPaths.
    standard,
    // The same list without "Library" and ".Trash", for walks below them.
    includeLibraryAndTrash,
};

// The exclusion test of directory walks, compiled once per walk: a path is
// excluded when it contains "/Volumes/test", or for an excluded name N
// contains "/N/" or ends with "/N". Plain case-sensitive matching on the path
// bytes.
class WalkExclusion
{
public:
    WalkExclusion(const AppSettings& settings, WalkExclusionMode mode);

    bool excludes(const QByteArray& path) const;
    // Same verdict as excludes() for path = parent + "/" + name, given that the
    // first parentLength bytes (the parent) are not excluded and that name, as
    // read from a folder listing, holds no slash: only matches that reach into
    // the new name are looked for.
    bool excludesChild(const QByteArray& path, qsizetype parentLength) const;

    static QList<QString> excludedNames(const AppSettings& settings, WalkExclusionMode mode);

private:
    void noteFirstBytes(const QByteArray& pattern);

    QList<QByteArray> m_contained;
    QList<QByteArray> m_suffixes;
    // Bytes that follow a slash in some pattern. A match reaching into a
    // child's name covers the slash before the name with one of the pattern's
    // own slashes (a match ending at that slash would have excluded the
    // parent), so it goes on with the name's first byte: a name starting with
    // any other byte cannot be excluded, and most names are cleared without a
    // substring search.
    std::bitset<256> m_firstBytes;
};
