#pragma once

#include "CacheRisk.h"
#include "HomeLayout.h"

#include <QString>

#include <optional>

// The classifier's word on a folder of a usage map, where it has one: the
// folders of the cache and log areas and everything inside them, and the
// protected locations. Ordinary folders get none, so that a map of the home
// does not show every photo folder as forbidden.
namespace UsageRisk {
std::optional<CacheRisk> verdict(const QString& path, const HomeLayout& layout);
}
