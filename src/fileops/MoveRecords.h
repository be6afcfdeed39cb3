#pragma once

#include "base/FilePath.h"

#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

// One moved item: where it was and where it went. Dates are seconds since
// 2001-01-01 UTC (see ReferenceDate).
struct MoveRecord
{
    QUuid id;
    FilePath originalPath;
    FilePath destinationPath;
    qint64 size = 0;
    double movedAt = 0;

    // {"id", "originalPath", "destinationPath", "size", "movedAt"}. A path that
    // is not valid UTF-8 cannot be a JSON string; it is written lossily under
    // its usual key and exactly, base64-encoded, under "<key>Native".
    QJsonObject toJson() const;
    static std::optional<MoveRecord> fromJson(const QJsonObject& object);

    bool operator==(const MoveRecord& other) const = default;
};

// The last move, kept so that it can be undone.
struct MoveBatch
{
    QUuid id;
    QList<MoveRecord> records;
    double createdAt = 0;

    std::optional<QByteArray> toJson() const;
    static std::optional<MoveBatch> fromJson(const QByteArray& json);

    bool operator==(const MoveBatch& other) const = default;
};

// The result of a move to the archive and of an undo.
struct MoveResult
{
    qint64 moved = 0;
    qint64 failed = 0;
    qint64 freedBytes = 0;
    QStringList errors;
    QList<MoveRecord> records;
    // The batch was stopped on request before all items were processed; the
    // rest were left alone (neither moved nor counted as failed).
    bool stopped = false;
    // Not empty when the move log or its journal could not be written: the
    // batch stopped there (the rest counted as failed), and the operation
    // failed even if every processed item moved.
    QString journalError;

    bool operator==(const MoveResult& other) const = default;
};

Q_DECLARE_METATYPE(MoveResult)
