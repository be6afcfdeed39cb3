#include "ArgumentFolderChooser.h"

ArgumentFolderChooser::ArgumentFolderChooser(FilePath folder, FileSystemPtr fileSystem)
    : m_folder(std::move(folder))
    , m_fs(std::move(fileSystem))
{
}

std::optional<FilePath> ArgumentFolderChooser::chooseFolder(const FilePath&, const QString&)
{
    FileStat st;
    if (!m_fs->stat(m_folder.native(), true, &st) || !st.isDirectory) {
        return std::nullopt;
    }
    m_answered = true;
    return m_folder;
}
