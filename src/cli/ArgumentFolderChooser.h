#pragma once

#include "platform/FileSystem.h"
#include "platform/FolderChooser.h"

// The folder chooser of the command line: the user has already chosen, in
// an argument. It answers with that folder when it is one, and cancels
// otherwise, as a dialog would not let a file or a missing folder be chosen.
class ArgumentFolderChooser : public FolderChooser
{
public:
    ArgumentFolderChooser(FilePath folder, FileSystemPtr fileSystem);

    std::optional<FilePath> chooseFolder(const FilePath& startIn, const QString& confirmTitle) override;

    // Whether it was asked and answered with the folder.
    bool answered() const { return m_answered; }

private:
    FilePath m_folder;
    FileSystemPtr m_fs;
    bool m_answered = false;
};
