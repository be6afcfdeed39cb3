#include "AppFeature.h"

#include <array>
#include <utility>

namespace {
const std::array<std::pair<AppFeature, const char*>, 13> features = {{
    {AppFeature::scan, "scan"},
    {AppFeature::archiveMove, "archive_move"},
    {AppFeature::archiveUndo, "archive_undo"},
    {AppFeature::downloadsSort, "downloads_sort"},
    {AppFeature::update, "update"},
    {AppFeature::cooling, "cooling"},
    {AppFeature::ads, "ads"},
    {AppFeature::analytics, "analytics"},
    {AppFeature::region, "region"},
    {AppFeature::crash, "crash"},
    {AppFeature::general, "general"},
    {AppFeature::safeCleanup, "safe_cleanup"},
    {AppFeature::cleanArchive, "clean_archive"},
}};
} // namespace

QString AppFeatures::rawValue(AppFeature feature)
{
    for (const auto& [f, raw] : features) {
        if (f == feature) {
            return QLatin1String(raw);
        }
    }
    return QStringLiteral("general");
}

std::optional<AppFeature> AppFeatures::fromRawValue(const QString& raw)
{
    for (const auto& [f, text] : features) {
        if (raw == QLatin1String(text)) {
            return f;
        }
    }
    return std::nullopt;
}
