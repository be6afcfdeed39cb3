#include "MacHealthEvaluator.h"

#include <algorithm>

#include "base/ByteCountFormatter.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Sizes come from the disk and cannot really reach the limit; saturating
// keeps a hostile or broken input from wrapping round into a small number.
qint64 saturatingAdd(qint64 a, qint64 b)
{
    qint64 sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    }
    return sum;
}

constexpr qint64 junkAdviceMinimum = 500'000'001;
constexpr qint64 safeCacheAdviceMinimum = (qint64(1) << 30) + 1;
constexpr qsizetype maxTips = 4;

} // namespace

const QList<ScanCategory>& MacHealthEvaluator::quickScanCategories()
{
    static const QList<ScanCategory> categories = {ScanCategory::appCaches, ScanCategory::systemJunk,
                                                   ScanCategory::downloadsInbox, ScanCategory::oldInstallers,
                                                   ScanCategory::largeLooseFiles};
    return categories;
}

bool MacHealthEvaluator::coveredByOther(const FilePath& path, const ScanItemList& items, const QUuid& self)
{
    const QByteArray& own = path.native();
    for (qsizetype i = 0; i < items.size(); ++i) {
        const ScanItem& other = items.at(i);
        if (other.id == self) {
            continue;
        }
        const QByteArray& outer = other.path.native();
        if (own.startsWith(outer + '/')) {
            return true;
        }
        // Of two rows for the same path, the first one counts.
        if (own == outer) {
            const auto first = std::find_if(items.cbegin(), items.cend(),
                                            [&](const ScanItem& candidate) { return candidate.path.native() == own; });
            return first->id != self;
        }
    }
    return false;
}

MacHealthSnapshot MacHealthEvaluator::evaluate(const MacHardwareInfo& hardware,
                                               const std::optional<DiskInfo>& primaryDisk,
                                               const ScanItemList& scanItems, qint64 safeCleanupBytes,
                                               bool hasFullDiskAccess, const QDateTime& now)
{
    // A path found by several categories, or inside another row, frees its
    // bytes once.
    qint64 reclaimable = 0;
    for (const ScanItem& item : scanItems) {
        if (!MacHealthEvaluator::coveredByOther(item.path, scanItems, item.id)) {
            reclaimable = saturatingAdd(reclaimable, item.size);
        }
    }
    reclaimable = saturatingAdd(reclaimable, safeCleanupBytes);

    QStringList tips;
    double score = 100;
    double used = 0;
    // A volume that reports no capacity tells nothing about fill or junk; it
    // scores like an almost empty one.
    const bool measurable = primaryDisk && primaryDisk->total >= 1;
    if (primaryDisk && !measurable) {
        score = 103;
    } else if (measurable) {
        used = double(primaryDisk->used) / double(primaryDisk->total);
        if (used > 0.92) {
            score = 65;
            tips.append(QStringLiteral("Системный диск заполнен более чем на 92% — срочно освободите место."));
        } else if (used > 0.85) {
            score = 75;
            tips.append(QStringLiteral("Диск заполнен на ") + QString::number(qint64(std::trunc(used * 100)))
                        + QStringLiteral("% — перенесите крупные файлы в архив."));
        } else if (used > 0.75) {
            score = 88;
        } else if (used < 0.55) {
            score = 103;
        } else {
            score = 100;
        }

        const double junk = double(reclaimable) / double(primaryDisk->total);
        if (junk > 0.12) {
            score -= 22;
            tips.append(QStringLiteral("Найдено ") + ByteCountFormatter::format(reclaimable)
                        + QStringLiteral(" потенциального мусора."));
        } else if (junk > 0.05) {
            score -= 12;
        } else if (reclaimable >= junkAdviceMinimum) {
            tips.append(QStringLiteral("Можно освободить ") + ByteCountFormatter::format(reclaimable)
                        + QStringLiteral("."));
        }
    }

    if (safeCleanupBytes >= safeCacheAdviceMinimum) {
        tips.append(QStringLiteral("Безопасные кэши: ") + ByteCountFormatter::format(safeCleanupBytes)
                    + QStringLiteral(" — раздел «Безопасная очистка»."));
    }
    if (!hasFullDiskAccess) {
        score -= 8;
        tips.append(QStringLiteral("Включите полный доступ к диску для точного сканирования."));
    }
    if (scanItems.isEmpty() && safeCleanupBytes == 0) {
        tips.append(QStringLiteral("Система выглядит чистой — периодически повторяйте быстрый скан."));
    }
    if (tips.isEmpty()) {
        tips.append(QStringLiteral("Диск в норме, критичного мусора не найдено."));
    }
    if (tips.size() > maxTips) {
        tips.resize(maxTips);
    }

    MacHealthSnapshot snapshot;
    // std::round takes halves away from zero.
    snapshot.healthPercent = int(std::clamp(std::round(score), 0.0, 100.0));
    snapshot.hardware = hardware;
    snapshot.reclaimableBytes = reclaimable;
    snapshot.safeCleanupBytes = safeCleanupBytes;
    snapshot.itemCount = scanItems.size();
    if (primaryDisk) {
        snapshot.diskUsedPercent = used;
        snapshot.diskFreeBytes = primaryDisk->free;
    }
    snapshot.scannedAt = now;
    snapshot.tips = tips;
    return snapshot;
}
