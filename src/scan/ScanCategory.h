#pragma once

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

struct AppSettings;

// Declaration order is the order of allCategories() and the order in which a
// scan runs its categories.
enum class ScanCategory {
    largeFolders,
    archiveCandidates,
    downloadsInbox,
    plusVideos,
    largeLooseFiles,
    oldInstallers,
    appCaches,
    systemJunk,
};

namespace ScanCategories {
QList<ScanCategory> allCategories();
QString rawValue(ScanCategory category);
// Only the eight raw values decode; anything else is rejected, never defaulted.
std::optional<ScanCategory> fromRawValue(const QString& raw);

// settings may be null; plusVideos then gets its generic texts.
QString title(ScanCategory category, const AppSettings* settings);
QString subtitle(ScanCategory category, const AppSettings* settings);
QString iconName(ScanCategory category);
QString plusVideosTitle(const AppSettings* settings);
QString plusVideosDescription(const AppSettings* settings);

// Movable results may go to the archive or the Trash; cleanable ones
// (appCaches, systemJunk) may only be cleaned.
bool isCleanable(ScanCategory category);
inline bool isMovable(ScanCategory category) { return !isCleanable(category); }
} // namespace ScanCategories

using ScanCategorySet = QSet<ScanCategory>;
