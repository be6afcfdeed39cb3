#pragma once

#include "AppUpdateInfo.h"
#include "UpdateDeployment.h"
#include "base/FilePath.h"
#include "base/Outcome.h"
#include "platform/FileSystem.h"

#include <QString>

#include <optional>

// The code-signature check of an unpacked update bundle. It passes only when
// - the folder is named "Brisko Vella.app" and its Contents/Info.json names
//   the deployment's bundle identifier (else unexpectedAppBundle);
// - the signed list verifies with the deployment's Ed25519 key;
// - the list's identifier, version and build equal Info.json's and the
//   offered update's, so that an older signed bundle cannot pass for a newer
//   build;
// - every file and link in the folder is in the list with the same content
//   and nothing listed is missing
// (else invalidCodeSignature).
class UpdateBundleVerifier
{
public:
    UpdateBundleVerifier(FileSystemPtr fileSystem, UpdateDeployment deployment);

    // Passes, or the failure for the user.
    Outcome<void> verify(const FilePath& bundle, const AppUpdateInfo& offered) const;
    // The same checks for a copy of the bundle under another folder name
    // (the staged copy of an installation).
    Outcome<void> verifyContents(const FilePath& bundle, const AppUpdateInfo& offered) const;

private:
    FileSystemPtr m_fs;
    UpdateDeployment m_deployment;
};
