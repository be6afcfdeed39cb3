#pragma once

#include "UpdateDeployment.h"
#include "UpdateImageExtractor.h"
#include "UpdateInstaller.h"
#include "UserPrefixInstallation.h"

#include <memory>

// The installer of this platform. On Linux the image is a .tar.zst holding
// "Brisko Vella.app"; it is unpacked securely into a fresh folder of the
// temporary directory (the mount point, removed in every outcome), the
// bundle's signature is checked there (UpdateBundleVerifier), and the bundle
// is installed into the per-user installation (UserPrefixInstallation),
// which keeps the previous build. Only a copy running from that
// installation, with the user able to write there, replaces itself.
class PlatformUpdateInstaller : public UpdateInstaller
{
public:
    PlatformUpdateInstaller(FileSystemPtr fileSystem, UpdateDeployment deployment, FilePath prefix,
                            FilePath runningExecutable, FilePath temporaryFolder,
                            UpdateImageExtractor::Limits limits = UpdateImageExtractor::Limits());

    // ~/.local/share/brisko-vella (or under $XDG_DATA_HOME), this process's
    // executable and the temporary folder, on the process's file system.
    static std::shared_ptr<PlatformUpdateInstaller> forCurrentUser(FileSystemPtr fileSystem,
                                                                   const UpdateDeployment& deployment);

    Outcome<QString> updatesDirectory() const override;
    QString downloadedImagePath(const QString& version) const override;
    bool canInstallInPlace() const override;
    QString installInstructions() const override;
    Outcome<QString> install(const QString& imagePath, const AppUpdateInfo& offered) override;

    const UserPrefixInstallation& installation() const { return m_installation; }

private:
    FileSystemPtr m_fs;
    UpdateDeployment m_deployment;
    UserPrefixInstallation m_installation;
    FilePath m_runningExecutable;
    FilePath m_temporaryFolder;
    UpdateImageExtractor::Limits m_limits;
};
