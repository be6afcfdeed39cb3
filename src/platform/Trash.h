#pragma once

#include "TrashResult.h"
#include "base/FilePath.h"

#include <memory>

// The user's Trash: the undoable way to get rid of a file or folder.
//
// moveToTrash never deletes and never copies: the item is renamed into a
// trash on its own volume, or stays where it is and the result says why.
// A symbolic link is trashed as the link itself. The call is synchronous and
// touches only the item and the trash, so it may run on any thread; calls for
// different items may run at the same time.
class Trash
{
public:
    virtual ~Trash() = default;

    // item must be an absolute path without "." or ".." components.
    virtual TrashResult moveToTrash(const FilePath& item) const = 0;
};

using TrashPtr = std::shared_ptr<const Trash>;
