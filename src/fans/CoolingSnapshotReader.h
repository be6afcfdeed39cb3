#pragma once

#include "CoolingSnapshot.h"
#include "SMCFanProfile.h"
#include "SmcMachine.h"

#include <QMutex>

#include <optional>

// Assembles one CoolingSnapshot from a fresh connection. Blocks; runs off
// the main thread.
class CoolingSnapshotReader
{
public:
    // Whether this process can write the SMC, asked once: the probe writes
    // fan 0's target, so it is not repeated on every poll. Safe to share
    // between threads.
    class WriteProbe
    {
    public:
        // The remembered answer, or the probe's on the first call.
        bool answer(const std::function<bool()>& probe);
        std::optional<bool> known() const;

    private:
        mutable QMutex m_mutex;
        std::optional<bool> m_answer;
    };

    struct Reading
    {
        CoolingSnapshot snapshot;
        // Raw error text, for the error reporter and the advice.
        std::optional<QString> error;
    };

    static inline const QString openErrorText = QStringLiteral("Не удалось открыть Apple SMC");
    static inline const QString unavailableNote = QStringLiteral("Apple SMC недоступен.");

    static Reading read(const SmcMachine& machine, const SMCFanProfile& profile, bool helperAvailable,
                        WriteProbe& probe);
};
