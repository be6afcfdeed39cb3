#pragma once

#include "base/FilePath.h"

#include <QUrl>

#include <memory>

// The desktop around the application: file viewer and default handlers.
class Workspace
{
public:
    virtual ~Workspace() = default;
    // Shows the file selected in a file viewer window of its folder.
    virtual bool revealFile(const FilePath& file) = 0;
    virtual bool openUrl(const QUrl& url) = 0;
};

using WorkspacePtr = std::shared_ptr<Workspace>;
