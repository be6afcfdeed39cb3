#pragma once

#include <QString>

// Whether the program runs from a place it may vanish from.
class AppRuntimeGuard
{
public:
    enum class Risk { none, diskImage, translocated };

    // Judged from the running executable's path.
    static Risk currentRisk();
    // Under "/Volumes/" (or a removable-media mount on Linux) it runs from a
    // disk image; "/AppTranslocation/", or "/private/var/folders/" with a
    // path ending in ".app", means a translocated copy.
    static Risk riskForPath(const QString& path);
    static QString message(Risk risk);
};
