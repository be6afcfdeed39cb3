#pragma once

#include <QMetaType>
#include <QStringList>

// Outcome of one cleanup run.
struct SafeCleanupResult
{
    // Folders removed completely.
    qint64 deleted = 0;
    // Selected candidates refused or not removed completely.
    qint64 failed = 0;
    // Sum of the sizes, measured just before deletion, of the removed folders.
    qint64 freedBytes = 0;
    // One line per refused or failed candidate, in processing order.
    QStringList errors;
    // A stop request ended the run before the last selected candidate; the
    // counts are those of the candidates handled before it.
    bool stopped = false;

    bool operator==(const SafeCleanupResult& other) const = default;
};

Q_DECLARE_METATYPE(SafeCleanupResult)
