#include "UpdateBundleVerifier.h"

#include "UpdateBundleManifest.h"
#include "UpdateError.h"
#include "UpdateSignature.h"

#include <QJsonDocument>
#include <QJsonObject>

UpdateBundleVerifier::UpdateBundleVerifier(FileSystemPtr fileSystem, UpdateDeployment deployment)
    : m_fs(std::move(fileSystem))
    , m_deployment(std::move(deployment))
{
}

Outcome<void> UpdateBundleVerifier::verify(const FilePath& bundle, const AppUpdateInfo& offered) const
{
    if (bundle.fileName() != UpdateDeployment::appBundleName) {
        return Failure{UpdateError::unexpectedAppBundle};
    }
    return verifyContents(bundle, offered);
}

Outcome<void> UpdateBundleVerifier::verifyContents(const FilePath& bundle, const AppUpdateInfo& offered) const
{
    const QByteArray root = bundle.native() + '/';
    const std::optional<QByteArray> infoBytes = UpdateBundleManifest::readFile(
        m_fs, root + UpdateBundleManifest::infoPath, UpdateBundleManifest::maxManifestBytes);
    const QJsonObject info = infoBytes ? QJsonDocument::fromJson(*infoBytes).object() : QJsonObject();
    if (info.value(QLatin1String("CFBundleIdentifier")).toString() != m_deployment.bundleIdentifier
        || m_deployment.bundleIdentifier.isEmpty()) {
        return Failure{UpdateError::unexpectedAppBundle};
    }

    const std::optional<QByteArray> listed = UpdateBundleManifest::readFile(
        m_fs, root + UpdateBundleManifest::manifestPath, UpdateBundleManifest::maxManifestBytes);
    const std::optional<QByteArray> signature =
        UpdateBundleManifest::readFile(m_fs, root + UpdateBundleManifest::signaturePath, 64);
    if (!listed || !signature || !UpdateSignature::verify(*listed, *signature, m_deployment.signingPublicKey)) {
        return Failure{UpdateError::invalidCodeSignature};
    }
    const std::optional<UpdateBundleManifest> manifest = UpdateBundleManifest::decode(*listed);
    if (!manifest || manifest->identifier != m_deployment.bundleIdentifier
        || manifest->version != info.value(QLatin1String("CFBundleShortVersionString")).toString()
        || manifest->build != info.value(QLatin1String("CFBundleVersion")).toString()
        || manifest->version != offered.version || manifest->build != offered.build) {
        return Failure{UpdateError::invalidCodeSignature};
    }
    const Outcome<UpdateBundleManifest> found = UpdateBundleManifest::scan(m_fs, bundle);
    if (!found || !found->sameContentAs(*manifest)) {
        return Failure{UpdateError::invalidCodeSignature};
    }
    return {};
}
