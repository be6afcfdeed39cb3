#include "TrustedRoots.h"

namespace {

QByteArray trimmed(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/')) {
        path.chop(1);
    }
    return path;
}

} // namespace

TrustedRoots::TrustedRoots(FilePath root)
{
    if (!root.isEmpty()) {
        m_roots.append({trimmed(root.native()), {}});
    }
}

TrustedRoots TrustedRoots::resolved(const FileSystem& fs, const QList<FilePath>& roots)
{
    TrustedRoots result;
    for (const FilePath& root : roots) {
        result = result.with(fs, root);
    }
    return result;
}

TrustedRoots TrustedRoots::with(const FileSystem& fs, const FilePath& root) const
{
    TrustedRoots result = *this;
    if (!root.isEmpty() && root.native().startsWith('/')) {
        result.m_roots.append({trimmed(root.native()), fs.resolvedPath(root.native())});
    }
    return result;
}

int TrustedRoots::openParent(const FileSystem& fs, const QByteArray& path, int* fd) const
{
    const Root* best = nullptr;
    for (const Root& root : m_roots) {
        const bool below = path.size() > root.path.size() + 1 && path.startsWith(root.path)
            && (root.path == "/" || path.at(root.path.size()) == '/');
        if (below && (!best || root.path.size() > best->path.size())) {
            best = &root;
        }
    }
    return best ? fs.openParentBeneath(best->path, path, fd, best->openAs) : fs.openParentBeneath({}, path, fd);
}
