#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QStringList>

// What a folder tree holds, recorded without following any link: for every
// entry its kind, permission bits, and for files the length, modification
// time and SHA-256 of the content, for links the target. Tests take one before
// and after an operation to prove that no byte was lost or changed.
//
// Keys are native paths relative to the root; the root itself is "" (absent
// when the root does not exist). Comparisons ignore the times of folders,
// which change whenever an entry is added or removed in them.
class TreeInventory
{
public:
    struct Entry
    {
        enum class Kind { File, Directory, Symlink, Other };

        Kind kind = Kind::Other;
        unsigned permissions = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        QByteArray sha256;
        QByteArray linkTarget;

        // Same content, kind and permissions; times only for files and links.
        bool sameAs(const Entry& other) const;
    };

    // Records root and everything below it, hidden entries included. Entries
    // whose relative path is in excluded, and everything below them, are left
    // out (for instance the tree under test, when recording its surroundings).
    static TreeInventory take(const QByteArray& root, const QList<QByteArray>& excluded = {});

    bool rootExists() const { return m_entries.contains(QByteArray()); }
    const QMap<QByteArray, Entry>& entries() const { return m_entries; }

    // One line per entry added, removed or changed between before and this;
    // empty when the trees are the same.
    QStringList differencesFrom(const TreeInventory& before) const;
    // Entries of this tree that original lacks or holds differently: empty
    // when this tree is what is left of original after some entries went.
    QStringList entriesNotIn(const TreeInventory& original) const;
    // Entries of original (folders, files, links) that are neither unchanged
    // in source nor unchanged in destination: empty when nothing was lost on
    // the way from one to the other.
    static QStringList lostEntries(const TreeInventory& original, const TreeInventory& source,
                                   const TreeInventory& destination);

    // A relative path as readable text for failure messages.
    static QString display(const QByteArray& relative);

private:
    QMap<QByteArray, Entry> m_entries;
};
