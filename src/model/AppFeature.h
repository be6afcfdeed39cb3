#pragma once

#include <QString>

#include <optional>

// The feature an error report belongs to.
enum class AppFeature {
    scan,
    archiveMove,
    archiveUndo,
    downloadsSort,
    update,
    cooling,
    ads,
    analytics,
    region,
    crash,
    general,
    safeCleanup,
    cleanArchive,
};

namespace AppFeatures {
QString rawValue(AppFeature feature);
std::optional<AppFeature> fromRawValue(const QString& raw);
} // namespace AppFeatures
