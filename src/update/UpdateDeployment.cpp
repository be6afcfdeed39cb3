#include "UpdateDeployment.h"

#include "scan/AppInfo.h"

namespace {

// The maker's update signing key. The private half never enters the
// repository; releases are signed with tools/make-update-bundle.
constexpr char makerPublicKeyHex[] = "23cb056d68d3e605fd7b7ea0a1c590d2183142c81f35b3bd3a99b7f219f52fa6";

} // namespace

UpdateDeployment UpdateDeployment::production()
{
    UpdateDeployment deployment;
    for (const QString& host : AppInfo::trustedHosts()) {
        deployment.allowedHosts.insert(host.toLower());
    }
    deployment.bundleIdentifier = AppInfo::bundleString(QStringLiteral("CFBundleIdentifier")).value_or(QString());
    deployment.signingPublicKey = QByteArray::fromHex(makerPublicKeyHex);
    deployment.localVersion =
        AppInfo::bundleString(QStringLiteral("CFBundleShortVersionString")).value_or(QStringLiteral("0.0.0"));
    deployment.localBuild = AppInfo::bundleString(QStringLiteral("CFBundleVersion")).value_or(QStringLiteral("0"));
    return deployment;
}

bool UpdateDeployment::isTrusted(const QUrl& url) const
{
    return url.isValid() && url.scheme().toLower() == QLatin1String("https") && !url.host().isEmpty()
        && allowedHosts.contains(url.host().toLower()) && url.userInfo().isEmpty();
}

QString UpdateDeployment::relaunchNotificationName() const
{
    return bundleIdentifier + QStringLiteral(".willRelaunchForUpdate");
}
