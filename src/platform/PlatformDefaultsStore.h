#pragma once

#include "DefaultsStore.h"

// Opens the user-defaults store of this machine. The environment variable
// BRISKO_DEFAULTS, when set, names the store file instead, so that tests and
// scripts never touch a real user's data.
//
// The queues of records kept for later (usage events) live beside it, a file
// each in the folder "<store file without its extension>.queues", so that
// recording an event rewrites that queue only.
class PlatformDefaultsStore
{
public:
    static DefaultsStorePtr open();
    static QString location();

    static DefaultsStorePtr openQueues();
    static QString queuesLocation();
    // The queues' folder of a store file.
    static QString queuesBeside(const QString& storeFile);
};
