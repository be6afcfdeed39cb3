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

// Reads only total, used and free of the volume and only the sizes and the
// number of the items. Advice comes in the order disk fill, junk, safe caches,
// disk access, clean system, fallback.
MacHealthSnapshot evaluate(const MacHardwareInfo& hardware, const std::optional<DiskInfo>& primaryDisk,
                           const ScanItemList& scanItems, qint64 safeCleanupBytes, bool hasFullDiskAccess,
                           const QDateTime& now);

} // namespace MacHealthEvaluator
