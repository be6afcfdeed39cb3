#pragma once

#include "CleanArchiveManifest.h"
#include "base/FilePath.h"

#include <QMetaType>
#include <QStringList>

// What creating one clean archive did.
struct CleanArchiveCreateResult
{
    FilePath archiveURL;
    // The manifest as written (or, when nothing was there to copy, as it
    // would have been: nothing is written then).
    CleanArchiveManifest manifest;
    // Profile folders copied; equals the number of entries.
    qint64 copiedFiles = 0;
    // In the order they arose.
    QStringList errors;
    // A stop request ended the copy: the partial archive folder was removed
    // and nothing was written.
    bool stopped = false;
};

Q_DECLARE_METATYPE(CleanArchiveCreateResult)
