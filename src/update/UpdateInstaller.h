#pragma once

#include "AppUpdateInfo.h"
#include "base/Outcome.h"

#include <QString>

// Puts a downloaded, checksum-verified update image in place of the running
// copy. The platform's implementation is PlatformUpdateInstaller; tests may
// hand the service their own.
class UpdateInstaller
{
public:
    virtual ~UpdateInstaller() = default;

    // The folder downloads are kept in, created when missing.
    virtual Outcome<QString> updatesDirectory() const = 0;
    // Where the image of a version is stored (the version text is safe as a
    // file name, see UpdateConfig).
    virtual QString downloadedImagePath(const QString& version) const = 0;

    // Whether this copy can replace itself: false when it does not run from
    // the installation the installer manages, or the user cannot write there.
    virtual bool canInstallInPlace() const = 0;
    // How to update by hand when the copy cannot replace itself (Russian).
    virtual QString installInstructions() const = 0;

    // Checks the image and installs it as the offered update, all or
    // nothing; the installed copy's program, to be started in place of this
    // one. Synchronous and slow: called on a worker thread.
    virtual Outcome<QString> install(const QString& imagePath, const AppUpdateInfo& offered) = 0;
};
