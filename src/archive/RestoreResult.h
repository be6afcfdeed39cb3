#pragma once

#include <QMetaType>
#include <QStringList>

// What restoring one clean archive did.
struct RestoreResult
{
    // Entries copied back and verified.
    qint64 restored = 0;
    // Entries whose destination already existed: left alone.
    qint64 skipped = 0;
    // Entries, or whole-archive steps, that failed.
    qint64 failed = 0;
    QStringList errors;
    // A stop request ended the restore before the last entry; the entries
    // counted above are complete.
    bool stopped = false;

    bool operator==(const RestoreResult& other) const = default;
};

Q_DECLARE_METATYPE(RestoreResult)
