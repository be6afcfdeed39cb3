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
    // The running machine's (or the simulated machine's), computed once.
    static const SMCFanProfile& current();

    // One line for the cooling screen.
    QString note() const;

    bool operator==(const SMCFanProfile& other) const = default;
};
