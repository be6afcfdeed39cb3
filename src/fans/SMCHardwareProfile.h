#pragma once

#include <QString>

#include <optional>

// The machine class that decides how failures are worded, and the wording.
// It is judged from the model identifier by rules of its own, which on some
// models (Mac15,3) disagree with the write strategy of SMCFanProfile.
class SMCHardwareProfile
{
public:
    enum class Kind { directWrite, ftstUnlock, unknown };

    static Kind detect(const QString& modelIdentifier);
    // The running machine's (or the simulated machine's), computed once.
    static Kind current();

    // Advice for a raw error text from the SMC path or the helper; nothing
    // for an empty text. A text no rule recognises comes back unchanged.
    static std::optional<QString> humanizeError(const std::optional<QString>& message, Kind kind);
    static std::optional<QString> humanizeError(const std::optional<QString>& message)
    {
        return humanizeError(message, current());
    }
};
