#pragma once

#include "MacHealthSnapshot.h"
#include "scan/DiskInfo.h"
#include "scan/ScanCategory.h"
#include "scan/ScanItem.h"

#include <QDateTime>
#include <QList>

#include <optional>

// The storage health score: one number from 0 to 100 and a few advice lines,
// computed from what the quick health scan found. A pure function; the
// caller gathers the inputs and passes the moment of evaluation.
namespace MacHealthEvaluator {

// appCaches, systemJunk, downloadsInbox, oldInstallers, largeLooseFiles, in
// this order (the order of the usage event's list).
const QList<ScanCategory>& quickScanCategories();

// Whether the row self's path lies inside another row's path, or is the path
// of an earlier row: its bytes are counted there already.
bool coveredByOther(const FilePath& path, const ScanItemList& items, const QUuid& self);

// Reads only total, used and free of the volume, and the sizes, paths and
// number of the items (each path counts once). Advice comes in the order disk fill, junk, safe caches,
// disk access, clean system, fallback.
MacHealthSnapshot evaluate(const MacHardwareInfo& hardware, const std::optional<DiskInfo>& primaryDisk,
                           const ScanItemList& scanItems, qint64 safeCleanupBytes, bool hasFullDiskAccess,
                           const QDateTime& now);

} // namespace MacHealthEvaluator
