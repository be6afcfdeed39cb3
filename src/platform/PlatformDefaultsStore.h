#pragma once

#include "DefaultsStore.h"

// Opens the user-defaults store of this machine. The environment variable
// BRISKO_DEFAULTS, when set, names the store file instead, so that tests and
// scripts never touch a real user's data.
class PlatformDefaultsStore
{
public:
    static DefaultsStorePtr open();
    static QString location();
};
