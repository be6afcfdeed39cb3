#pragma once

#include <QSet>
#include <QString>

#include <optional>

// The application's own bundle facts.
namespace AppInfo {
// "CFBundleShortVersionString" (version), "CFBundleVersion" (build), …
std::optional<QString> bundleString(const QString& key);
// The maker's hosts that updates may be downloaded from.
const QSet<QString>& trustedHosts();
// Posted before the application relaunches into an update.
QString willRelaunchNotificationName();
} // namespace AppInfo
