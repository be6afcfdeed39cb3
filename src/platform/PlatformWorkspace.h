#pragma once

#include "Workspace.h"

class PlatformWorkspace : public Workspace
{
public:
    bool revealFile(const FilePath& file) override;
    bool openUrl(const QUrl& url) override;
};
