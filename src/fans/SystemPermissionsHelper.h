#pragma once

#include "base/FilePath.h"
#include "platform/FileSystem.h"
#include "platform/Workspace.h"

// Whether the program may read the user's protected data, and the way to the
// system settings pane that grants it.
class SystemPermissionsHelper
{
public:
    // Looks at "Library/Safari/Bookmarks.plist", then "Library/Mail" in the
    // home folder, whichever exists first: access is needed exactly when that
    // one cannot be read. When neither exists it is not needed.
    static bool needsFullDiskAccess(const FileSystem& fileSystem, const FilePath& home);

    // Opens the Full Disk Access pane; the older pane's address when the
    // first cannot be opened.
    static void openFullDiskAccessSettings(Workspace& workspace);
};
