#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QUuid>

// One volume shown on the dashboard. The id is new on every read of the list.
struct DiskInfo
{
    QUuid id;
    QString name;
    QString path;
    qint64 total = 0;
    qint64 used = 0;
    qint64 free = 0;

    bool operator==(const DiskInfo& other) const = default;
};

using DiskInfoList = QList<DiskInfo>;

Q_DECLARE_METATYPE(DiskInfo)
