#include "UsageTree.h"

#include <algorithm>
#include <deque>

QByteArray UsageTree::nativeName(Index index) const
{
    if (index == 0) {
        return m_root.native();
    }
    const UsageNode& n = m_nodes[index];
    return QByteArray(m_names.data() + n.nameOffset, n.nameLength);
}

QString UsageTree::name(Index index) const
{
    return index == 0 ? m_root.toString() : FilePath(nativeName(index)).toString();
}

FilePath UsageTree::path(Index index) const
{
    std::vector<Index> chain;
    for (Index i = index; i != 0; i = m_nodes[i].parent) {
        chain.push_back(i);
    }
    QByteArray path = m_root.native();
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path.endsWith('/')) {
            path.append('/');
        }
        const UsageNode& n = m_nodes[*it];
        path.append(m_names.data() + n.nameOffset, n.nameLength);
    }
    return FilePath(path);
}

QList<UsageTree::Index> UsageTree::largestChildren(Index index, qsizetype k) const
{
    const UsageNode& n = m_nodes[index];
    const qsizetype count = k < 0 ? qsizetype(n.childCount) : std::min<qsizetype>(k, n.childCount);
    QList<Index> children;
    children.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        children.append(Index(n.firstChild + i));
    }
    return children;
}

UsageTree::Index UsageTree::find(const FilePath& path) const
{
    if (m_nodes.empty()) {
        return noNode;
    }
    const QByteArray& wanted = path.native();
    QByteArray prefix = m_root.native();
    if (wanted == prefix) {
        return 0;
    }
    if (!prefix.endsWith('/')) {
        prefix.append('/');
    }
    if (!wanted.startsWith(prefix)) {
        return noNode;
    }
    Index at = 0;
    for (const QByteArray& part : wanted.mid(prefix.size()).split('/')) {
        if (part.isEmpty()) {
            continue;
        }
        const UsageNode& folder = m_nodes[at];
        Index found = noNode;
        for (Index c = folder.firstChild; c < folder.firstChild + folder.childCount; ++c) {
            const UsageNode& n = m_nodes[c];
            if (n.nameLength == part.size()
                && std::equal(part.begin(), part.end(), m_names.data() + n.nameOffset)) {
                found = c;
                break;
            }
        }
        if (found == noNode) {
            return noNode;
        }
        at = found;
    }
    return at;
}

qint64 UsageTree::memoryBytes() const
{
    return qint64(m_nodes.capacity() * sizeof(UsageNode) + m_names.capacity());
}

void UsageTree::finish()
{
    // Children always come after their folder, so one backward pass sums
    // every subtree.
    for (size_t i = m_nodes.size(); i-- > 1;) {
        UsageNode& parent = m_nodes[m_nodes[i].parent];
        parent.size += m_nodes[i].size;
        parent.entries += m_nodes[i].entries;
    }
    m_unreadable = 0;
    for (Index i = 0; i < Index(m_nodes.size()); ++i) {
        if (m_nodes[i].has(UsageNode::Unreadable)) {
            ++m_unreadable;
        }
        sortChildren(i);
    }
}

void UsageTree::sortChildren(Index folder)
{
    const Index first = m_nodes[folder].firstChild;
    const quint32 count = m_nodes[folder].childCount;
    const auto larger = [](const UsageNode& a, const UsageNode& b) { return a.size > b.size; };
    const auto begin = m_nodes.begin() + first;
    if (count < 2 || std::is_sorted(begin, begin + count, larger)) {
        return;
    }
    std::vector<UsageNode> block(begin, begin + count);
    std::stable_sort(block.begin(), block.end(), larger);
    for (quint32 i = 0; i < count; ++i) {
        const UsageNode& moved = block[i];
        m_nodes[first + i] = moved;
        for (Index c = moved.firstChild; c < moved.firstChild + moved.childCount; ++c) {
            m_nodes[c].parent = first + i;
        }
    }
}

UsageTree::Index UsageTree::appendCopy(const UsageTree& from, Index index, Index parent)
{
    UsageNode copy = from.m_nodes[index];
    const QByteArray name = index == 0 ? from.m_root.fileNameNative() : from.nativeName(index);
    copy.parent = parent;
    copy.firstChild = 0;
    copy.childCount = 0;
    copy.nameOffset = m_names.size();
    copy.nameLength = quint16(name.size());
    m_names.insert(m_names.end(), name.begin(), name.end());
    m_nodes.push_back(copy);
    return Index(m_nodes.size() - 1);
}

UsageTree UsageTree::withSubtree(const FilePath& path, const UsageTree& fresh) const
{
    const Index target = find(path);
    Index addUnder = noNode;
    if (target == noNode) {
        addUnder = fresh.isEmpty() ? noNode : find(path.parent());
        if (addUnder == noNode || !isDirectory(addUnder)) {
            return *this;
        }
    }
    if (target == 0) {
        UsageTree replaced = fresh;
        replaced.m_root = m_root;
        return replaced;
    }
    const Index changedFolder = target != noNode ? m_nodes[target].parent : addUnder;

    UsageTree out;
    out.m_root = m_root;
    out.m_device = m_device;
    out.m_cancelled = m_cancelled;
    out.m_nodes.reserve(m_nodes.size() + fresh.m_nodes.size());
    out.m_names.reserve(m_names.size() + fresh.m_names.size());
    out.m_nodes.push_back(m_nodes[0]);

    // Breadth first, so that every folder's children land next to each other.
    struct Pending
    {
        const UsageTree* from;
        Index source;
        Index copy;
    };
    std::deque<Pending> queue{{this, 0, 0}};
    Index newChangedFolder = 0;
    std::vector<Pending> children;
    while (!queue.empty()) {
        const Pending folder = queue.front();
        queue.pop_front();
        const UsageNode& source = folder.from->m_nodes[folder.source];
        const bool inThis = folder.from == this;
        children.clear();
        for (Index c = source.firstChild; c < source.firstChild + source.childCount; ++c) {
            if (inThis && c == target) {
                if (!fresh.isEmpty()) {
                    children.push_back({&fresh, 0, 0});
                }
            } else {
                children.push_back({folder.from, c, 0});
            }
        }
        if (inThis && folder.source == addUnder) {
            children.push_back({&fresh, 0, 0});
        }
        if (inThis && folder.source == changedFolder) {
            newChangedFolder = folder.copy;
        }
        const Index first = Index(out.m_nodes.size());
        for (Pending& child : children) {
            child.copy = out.appendCopy(*child.from, child.source, folder.copy);
            queue.push_back(child);
        }
        out.m_nodes[folder.copy].firstChild = first;
        out.m_nodes[folder.copy].childCount = quint32(children.size());
    }

    const qint64 sizeDelta = (fresh.isEmpty() ? 0 : fresh.size(0)) - (target != noNode ? size(target) : 0);
    const qint64 entryDelta = (fresh.isEmpty() ? 0 : fresh.entries(0)) - (target != noNode ? entries(target) : 0);
    for (Index i = newChangedFolder;; i = out.m_nodes[i].parent) {
        out.m_nodes[i].size += sizeDelta;
        out.m_nodes[i].entries += entryDelta;
        out.sortChildren(i);
        if (i == 0) {
            break;
        }
    }
    out.m_unreadable = 0;
    for (const UsageNode& n : out.m_nodes) {
        out.m_unreadable += n.has(UsageNode::Unreadable) ? 1 : 0;
    }
    return out;
}
