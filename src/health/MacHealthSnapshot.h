#pragma once

#include "scan/MacHardwareInfo.h"

#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QStringList>

#include <optional>

// The result of one quick health scan: the score, the figures behind it and
// at most four advice lines.
struct MacHealthSnapshot
{
    // 0 to 100.
    int healthPercent = 0;
    MacHardwareInfo hardware;
    // Sizes of all scan items plus the safe cleanup bytes.
    qint64 reclaimableBytes = 0;
    qint64 safeCleanupBytes = 0;
    qint64 itemCount = 0;
    // Used share of the system volume, 0 to 1 (not a percentage despite the
    // name); absent without a volume, 0 for one that reports no capacity.
    std::optional<double> diskUsedPercent;
    std::optional<qint64> diskFreeBytes;
    QDateTime scannedAt;
    QStringList tips;

    // For scripts: the fields under their own names, absent figures as null,
    // scannedAt as ISO 8601 UTC with "Z", the hardware as an object.
    QJsonObject toJson() const;

    bool operator==(const MacHealthSnapshot& other) const = default;
};

Q_DECLARE_METATYPE(MacHealthSnapshot)
