#pragma once

#include "base/FilePath.h"

class PlatformPaths
{
public:
    // The current user's home folder: $HOME, else the password database entry.
    static FilePath home();
    // Path of the running program (the application bundle's stand-in on Linux).
    static FilePath executable();
};
