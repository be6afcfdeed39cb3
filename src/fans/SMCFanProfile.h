#pragma once

#include <QString>

// How this machine's fans are written, judged from its model identifier.
struct SMCFanProfile
{
    enum class WriteStrategy { directWrite, ftstUnlock };

    WriteStrategy strategy = WriteStrategy::directWrite;
    QString chipLabel;
    QString modelIdentifier;

    // First matching rule wins; "unknown" (no model) writes directly.
    static SMCFanProfile detect(const QString& modelIdentifier);

    // One line for the cooling screen.
    QString note() const;

    bool operator==(const SMCFanProfile& other) const = default;
};
