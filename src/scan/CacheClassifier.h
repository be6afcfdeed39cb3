#pragma once

#include "CacheRisk.h"

#include <QString>

// Decides from path text alone whether a path in the home folder may be
// deleted without asking its application. It never looks at the disk.
namespace CacheClassifier {
CacheRisk classify(const QString& path, const QString& homePath);

// Whether the path lies in one of the protected locations (mail, keychains, …).
bool isProtectedLocation(const QString& path);

// "." and ".." resolved, repeated and trailing slashes dropped; symbolic
// links are not resolved.
QString standardizePath(const QString& path);
} // namespace CacheClassifier
