#pragma once

#include "UsageNode.h"
#include "base/FilePath.h"

#include <QList>
#include <QMetaType>

#include <limits>
#include <memory>
#include <vector>

// The sizes of one folder tree, as one walk found them: a packed node array
// (index 0 is the root) and one arena with every name's exact bytes, so that
// a name that is not valid UTF-8 still leads back to its file. Children of a
// folder are stored together, largest first. Values are immutable once built;
// a refresh makes a new tree (withSubtree), so readers on other threads can
// keep the old one.
class UsageTree
{
public:
    using Index = quint32;
    static constexpr Index noNode = std::numeric_limits<Index>::max();

    bool isEmpty() const { return m_nodes.empty(); }
    const FilePath& rootPath() const { return m_root; }
    // The device of the root: walks stay on it unless told otherwise.
    quint64 device() const { return m_device; }
    qsizetype nodeCount() const { return qsizetype(m_nodes.size()); }

    const UsageNode& node(Index index) const { return m_nodes[index]; }
    Index parent(Index index) const { return index == 0 ? noNode : m_nodes[index].parent; }
    // The exact bytes of the entry's name; for the root, its whole path.
    QByteArray nativeName(Index index) const;
    // For display (invalid UTF-8 shown with replacement characters).
    QString name(Index index) const;
    FilePath path(Index index) const;
    qint64 size(Index index) const { return m_nodes[index].size; }
    qint64 entries(Index index) const { return m_nodes[index].entries; }
    bool isDirectory(Index index) const { return m_nodes[index].has(UsageNode::Directory); }
    bool isUnreadable(Index index) const { return m_nodes[index].has(UsageNode::Unreadable); }
    // The first k children, largest first (all of them for k < 0).
    QList<Index> largestChildren(Index index, qsizetype k = -1) const;
    // The node of a path at or below the root, or noNode.
    Index find(const FilePath& path) const;

    // Folders below the root that could not be read.
    qint64 unreadableFolders() const { return m_unreadable; }
    // The walk was cancelled: what is here is a part of the tree.
    bool wasCancelled() const { return m_cancelled; }
    // Heap held by the nodes and the names.
    qint64 memoryBytes() const;

    // This tree with the subtree at path replaced by fresh (a walk of that
    // path), added when path is new below a folder of the tree, or removed
    // when fresh is empty. Sizes and counts of the folders above follow. A
    // path outside the tree gives the tree unchanged.
    UsageTree withSubtree(const FilePath& path, const UsageTree& fresh) const;

private:
    friend class UsageWalk;
    friend class UsageWalker;

    // After the walk: folder totals from their children, children sorted.
    void finish();
    void sortChildren(Index folder);
    Index appendCopy(const UsageTree& from, Index index, Index parent);

    FilePath m_root;
    quint64 m_device = 0;
    std::vector<UsageNode> m_nodes;
    std::vector<char> m_names;
    qint64 m_unreadable = 0;
    bool m_cancelled = false;
};

using UsageTreePtr = std::shared_ptr<const UsageTree>;

Q_DECLARE_METATYPE(UsageTreePtr)
