#pragma once

#include <QString>

// How an offered update is compared with the running copy.
namespace UpdateVersionOrder {
// A decimal integer with an optional sign; anything else (and overflow) is 0.
qint64 buildNumber(const QString& text);
// Digit runs compare as numbers ("1.10" > "1.9"), the rest as text.
// Negative, zero or positive like a comparison function.
int compareVersions(const QString& a, const QString& b);
// A different build decides alone; equal builds fall back to the versions.
bool isNewer(const QString& remoteVersion, const QString& remoteBuild, const QString& localVersion,
             const QString& localBuild);
} // namespace UpdateVersionOrder
