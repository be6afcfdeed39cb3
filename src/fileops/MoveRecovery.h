#pragma once

#include <QJsonObject>
#include <QStringList>
#include <QUuid>

// What the start of a run found of a move batch that a killed process left
// unfinished, and of the scratch copies such processes leave.
struct MoveRecovery
{
    // The unfinished batch; null when there was none.
    QUuid batchId;
    // Items of that batch now in the move log, so that undo returns them.
    qint64 recorded = 0;
    // Of those, items whose verified copy was already in the archive while
    // their source was being removed: the removal was finished now.
    qint64 completed = 0;
    // Items caught before their copy was complete: the source stayed, the
    // partial copy was removed.
    qint64 rolledBack = 0;
    // Hidden partial copies of processes that are gone, removed.
    qint64 swept = 0;
    QStringList errors;

    bool foundSomething() const { return !batchId.isNull() || swept > 0 || !errors.isEmpty(); }
    // The status line, e.g. "Восстановлено после сбоя: в журнале переноса 3, …".
    QString statusLine() const;
    // "batchId", "recorded", "completed", "rolledBack", "swept", "errors".
    QJsonObject toJson() const;
};
