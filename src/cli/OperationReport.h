#pragma once

#include "CommandResult.h"
#include "fileops/MoveRecords.h"
#include "fileops/SafeCleanupCandidate.h"
#include "health/StorageHistory.h"

#include <QJsonObject>
#include <QStringList>

#include <optional>

class AppState;
class Console;

// How the commands that change files end. Standard output carries the status
// line the application state published, or with --json one result object
// that holds it under "status". Without --json the per-item failures also go
// to standard error, one per line; with it they are only in the object, so
// that a script may merge both streams.
class OperationReport
{
public:
    // The state refused to start; its status line (on standard error) says why.
    static CommandResult refused(const AppState& state, Console& console);
    // Prints the outcome: the object with "status" added, or lines and then
    // the status line. Exit 1 when failed is not 0.
    static CommandResult finish(const AppState& state, qint64 failed, const QStringList& errors,
                                const std::optional<QJsonObject>& json, const QStringList& lines,
                                Console& console);

    // "moved", "failed", "freedBytes", "errors", "records" (the stored form of
    // each record).
    static QJsonObject moveResult(const MoveResult& result);
    // "deleted", "failed", "freedBytes", "errors".
    static QJsonObject removal(qint64 deleted, qint64 failed, qint64 freedBytes, const QStringList& errors);
    // "totalFreed", "eventCount", "lastEvent" (null when there is none).
    static QJsonObject stats(const StorageStats& stats);
    // "id", "path", "label", "size", "risk", "isSelected".
    static QJsonObject candidate(const SafeCleanupCandidate& candidate);
    // The status line, or null.
    static QJsonValue status(const AppState& state);
};
