#include "FolderStack.h"

#include <cerrno>

FolderStack::FolderStack(const FileSystem& fs, int base, std::size_t maxOpen)
    : m_fs(fs)
    , m_base(base)
    , m_maxOpen(maxOpen < 1 ? 1 : maxOpen)
{
}

int FolderStack::top() const
{
    return m_levels.empty() ? m_base : m_levels.back().dir.get();
}

int FolderStack::push(const char* name, const QByteArray& fullPath, FileStat* st)
{
    Level level{ScopedDirectory(m_fs), 0, 0};
    if (const int error = m_fs.openDirectoryNoFollow(top(), name, fullPath, level.dir.receive())) {
        return error;
    }
    FileStat own;
    if (!m_fs.statAt(level.dir.get(), ".", fullPath, false, &own)) {
        return errno ? errno : EIO;
    }
    level.device = own.device;
    level.inode = own.inode;
    if (st) {
        *st = own;
    }
    m_levels.push_back(std::move(level));
    if (m_levels.size() - m_firstOpen > m_maxOpen) {
        m_levels[m_firstOpen++].dir.reset();
    }
    return 0;
}

int FolderStack::pop(const QByteArray& parentPath)
{
    if (m_levels.empty()) {
        return 0;
    }
    const std::size_t below = m_levels.size() - 1;
    int error = 0;
    if (below > 0 && m_firstOpen == below) {
        Level& parent = m_levels[below - 1];
        FileStat st;
        error = m_fs.openDirectoryNoFollow(m_levels.back().dir.get(), "..", parentPath, parent.dir.receive());
        if (!error && !m_fs.statAt(parent.dir.get(), ".", parentPath, false, &st)) {
            error = errno ? errno : EIO;
        } else if (!error && (st.device != parent.device || st.inode != parent.inode)) {
            error = ESTALE;
        }
        if (error) {
            parent.dir.reset();
        } else {
            --m_firstOpen;
        }
    }
    m_levels.pop_back();
    if (m_firstOpen > m_levels.size()) {
        m_firstOpen = m_levels.size();
    }
    return error;
}
