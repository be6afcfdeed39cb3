#include "AppInfo.h"

#include "platform/BundleFacts.h"

std::optional<QString> AppInfo::bundleString(const QString& key)
{
    return BundleFacts::infoString(key);
}

const QSet<QString>& AppInfo::trustedHosts()
{
    static const QSet<QString> hosts = {QStringLiteral("korvane.ru"), QStringLiteral("api.korvane.ru")};
    return hosts;
}

QString AppInfo::willRelaunchNotificationName()
{
    return bundleString(QStringLiteral("CFBundleIdentifier")).value_or(QString())
        + QStringLiteral(".willRelaunchForUpdate");
}
