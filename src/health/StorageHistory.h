#pragma once

#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUuid>

#include <optional>

// One operation that freed or reorganised space. date: seconds since
// 2001-01-01 UTC (see ReferenceDate).
struct StorageEvent
{
    QUuid id;
    double date = 0;
    qint64 bytesFreed = 0;
    QString action;
    qint64 itemCount = 0;

    QJsonObject toJson() const;
    static std::optional<StorageEvent> fromJson(const QJsonObject& object);

    bool operator==(const StorageEvent& other) const = default;
};

// The totals over the stored history (its newest 100 events).
struct StorageStats
{
    qint64 totalFreed = 0;
    qint64 eventCount = 0;
    std::optional<StorageEvent> lastEvent;

    bool operator==(const StorageStats& other) const = default;
};

Q_DECLARE_METATYPE(StorageStats)
