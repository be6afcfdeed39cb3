#pragma once

// What the settings screen says about the archive folder before anything is
// moved there.
enum class ArchiveFolderStatus {
    // Nothing at the path yet: the first move creates it.
    willBeCreated,
    // Something is there, but the folder or its parent refuses writing (a
    // read-only or disconnected disk, a file in the way, no permission).
    notWritable,
    writable,
};
