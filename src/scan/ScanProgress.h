#pragma once

#include <QMetaType>
#include <QString>

struct ScanProgress
{
    bool isRunning = false;
    QString currentTask;
    qint64 itemsFound = 0;
    double progress = 0.0;

    bool operator==(const ScanProgress& other) const = default;
};

Q_DECLARE_METATYPE(ScanProgress)
