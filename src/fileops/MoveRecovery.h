#pragma once

#include <QJsonObject>
#include <QStringList>
#include <QUuid>

// What the start of a run found of a move batch that a killed process left
// unfinished, and of the scratch copies such processes leave.
struct MoveRecovery
{
    // The unfinished batch (a move, or the undo of one); null when there was none.
    QUuid batchId;
    bool undo = false;
    // Items of the batch now in the move log, so that undo returns them; for
    // an undo, the items still in the archive.
    qint64 recorded = 0;
    // Items whose verified copy was already at the target while their source
    // was being removed: the removal was finished now.
    qint64 completed = 0;
    // Items caught before their copy was complete: they stayed where they
    // were (home for a move, the archive for an undo), the partial copy was
    // removed.
    qint64 rolledBack = 0;
    // Hidden partial copies of processes that are gone, removed.
    qint64 swept = 0;
    QStringList errors;

    bool foundSomething() const { return !batchId.isNull() || swept > 0 || !errors.isEmpty(); }
    // The status line, e.g. "Восстановлено после сбоя: в журнале переноса 3, …".
    QString statusLine() const;
    // "batchId", "undo", "recorded", "completed", "rolledBack", "swept", "errors".
    QJsonObject toJson() const;
};
