#pragma once

#include "base/FilePath.h"

#include <QString>

#include <memory>
#include <optional>

// Asks the user for a folder: a dialog in the window, an argument on the
// command line. Folders only, one of them.
class FolderChooser
{
public:
    virtual ~FolderChooser() = default;
    // Nothing when the user cancels.
    virtual std::optional<FilePath> chooseFolder(const FilePath& startIn, const QString& confirmTitle) = 0;
};

using FolderChooserPtr = std::shared_ptr<FolderChooser>;
