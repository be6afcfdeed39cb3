#pragma once

#include <QMetaType>
#include <QString>

struct CleanArchiveProgress
{
    bool isRunning = false;
    QString currentTask;
    double progress = 0.0;
    qint64 filesCopied = 0;

    bool operator==(const CleanArchiveProgress& other) const = default;
};

Q_DECLARE_METATYPE(CleanArchiveProgress)
