#pragma once

#include "platform/FolderChooser.h"

// The window's folder chooser: a modal folder dialog over the active window,
// the desktop's own (through its portal) where it offers one. Cancelling
// answers nothing.
class DialogFolderChooser : public FolderChooser
{
public:
    std::optional<FilePath> chooseFolder(const FilePath& startIn, const QString& confirmTitle) override;
};
