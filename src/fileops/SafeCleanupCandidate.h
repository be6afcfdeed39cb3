#pragma once

#include "base/FilePath.h"
#include "scan/CacheRisk.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QUuid>

// One cache folder offered for deletion. A snapshot: the size and the verdict
// are those of the moment it was listed; only isSelected changes afterwards.
struct SafeCleanupCandidate
{
    QUuid id;
    FilePath path;
    QString label;
    qint64 size = 0;
    CacheRisk risk = CacheRisk::forbidden;
    bool isSelected = true;

    bool operator==(const SafeCleanupCandidate& other) const = default;
};

size_t qHash(const SafeCleanupCandidate& candidate, size_t seed = 0) noexcept;

using SafeCleanupCandidateList = QList<SafeCleanupCandidate>;

Q_DECLARE_METATYPE(SafeCleanupCandidate)
