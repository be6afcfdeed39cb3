#pragma once

#include "platform/SystemFacts.h"

#include <QString>

// A description of the computer for the health screen and the feedback form.
struct MacHardwareInfo
{
    QString marketingName;
    QString modelIdentifier;
    QString chipName;
    qint64 memoryGB = 1;
    qint64 processorCount = 1;
    QString osVersion;
    bool isNotebook = false;

    static MacHardwareInfo current(const SystemFacts& facts);
    // "MacBook Air (Apple M1)", "Mac mini (Apple M1)", …
    static QString marketingNameFor(const QString& modelIdentifier, const QString& processorBrand);
    static QString chipLabel(const QString& processorBrand);

    bool operator==(const MacHardwareInfo& other) const = default;
};
