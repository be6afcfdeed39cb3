#pragma once

#include "CleanArchiveManifest.h"
#include "base/FilePath.h"

#include <QList>
#include <QMetaType>
#include <QString>

// One clean archive found in the archive folder.
struct CleanArchiveSummary
{
    // The archive folder's name ("Brisko_2026-03-14_093015").
    QString id;
    FilePath url;
    CleanArchiveManifest manifest;

    bool operator==(const CleanArchiveSummary& other) const = default;
};

using CleanArchiveSummaryList = QList<CleanArchiveSummary>;

Q_DECLARE_METATYPE(CleanArchiveSummary)
Q_DECLARE_METATYPE(CleanArchiveSummaryList)
