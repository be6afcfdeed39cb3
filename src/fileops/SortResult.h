#pragma once

#include <QMap>
#include <QMetaType>
#include <QString>
#include <QStringList>

// Outcome of one tidy-up of the Downloads folder.
struct SortResult
{
    // Files moved into a bucket.
    qint64 moved = 0;
    // Folders found in the Downloads root and left where they are.
    qint64 skipped = 0;
    // Files whose move failed; each is still where it was.
    qint64 failed = 0;
    // One line per failure, in processing order.
    QStringList errors;
    // Files moved per bucket; buckets that received nothing are absent.
    QMap<QString, qint64> byBucket;

    bool operator==(const SortResult& other) const = default;
};

Q_DECLARE_METATYPE(SortResult)
