#pragma once

#include "AppUpdateInfo.h"

#include <QString>

// Puts a downloaded, checksum-verified update image in place of the running
// copy. The platform's implementation is PlatformUpdateInstaller; tests may
// hand the service their own.
class UpdateInstaller
{
public:
    struct InstallResult
    {
        // The installed copy's program, to be started in place of this one.
        QString executable;
        // For the user; empty on success.
        QString error;

        bool ok() const { return error.isEmpty(); }
    };

    virtual ~UpdateInstaller() = default;

    // The folder downloads are kept in, created when missing; empty, with
    // error set, when it cannot be.
    virtual QString updatesDirectory(QString* error) const = 0;
    // Where the image of a version is stored (the version text is safe as a
    // file name, see UpdateConfig).
    virtual QString downloadedImagePath(const QString& version) const = 0;

    // Whether this copy can replace itself: false when it does not run from
    // the installation the installer manages, or the user cannot write there.
    virtual bool canInstallInPlace() const = 0;
    // How to update by hand when the copy cannot replace itself (Russian).
    virtual QString installInstructions() const = 0;

    // Checks the image and installs it as the offered update, all or
    // nothing. Synchronous and slow: called on a worker thread.
    virtual InstallResult install(const QString& imagePath, const AppUpdateInfo& offered) = 0;
};
