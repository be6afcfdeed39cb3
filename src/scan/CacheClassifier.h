#pragma once

#include "CacheRisk.h"

#include <QString>

class HomeLayout;

// Decides from path text alone whether a path in the home folder may be
// deleted without asking its application. It never looks at the disk; the
// tables come from the home's layout. First matching step wins: outside the
// home forbidden; protected texts and areas forbidden; known safe folders
// safe; a direct child of the user cache folder safe; deeper inside a cache
// area caution; inside a log area caution (crash reports forbidden);
// anything else forbidden.
namespace CacheClassifier {
CacheRisk classify(const QString& path, const HomeLayout& layout);

// Whether the path lies in one of the protected locations (mail, keychains, …).
bool isProtectedLocation(const QString& path, const HomeLayout& layout);

// "." and ".." resolved, repeated and trailing slashes dropped; symbolic
// links are not resolved.
QString standardizePath(const QString& path);
} // namespace CacheClassifier
