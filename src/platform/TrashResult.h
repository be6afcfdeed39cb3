#pragma once

#include "base/FilePath.h"

#include <QString>

// What became of one item handed to the Trash.
struct TrashResult
{
    // True only when the item now lies complete in the trash. False means it
    // is still where it was (nothing was deleted, nothing copied).
    bool ok = false;
    // When ok is false: a one-line description for the user, normally the
    // platform's own text for the failure.
    QString error;
    // When ok is true: where the item lies now, and the file that records
    // where it came from (empty where the platform keeps no such file).
    FilePath trashedPath;
    FilePath infoPath;

    static TrashResult failure(QString error)
    {
        TrashResult result;
        result.error = std::move(error);
        return result;
    }
};
