#pragma once

#include "platform/Workspace.h"

#include <QList>
#include <QUrl>

// The window's workspace seam for widget tests: remembers what it was asked
// to open or reveal instead of starting a browser or a file viewer.
class RecordingWorkspace : public Workspace
{
public:
    bool revealFile(const FilePath& file) override
    {
        revealed.append(file);
        return true;
    }
    bool openUrl(const QUrl& url) override
    {
        opened.append(url);
        return true;
    }

    QList<FilePath> revealed;
    QList<QUrl> opened;
};
