#pragma once

#include "model/AppRuntimeGuard.h"
#include "platform/DefaultsStore.h"
#include "platform/SystemFacts.h"

#include <QLocale>
#include <QMap>
#include <QString>

#include <functional>
#include <optional>

// The small block of machine facts a feedback message may carry, all as
// text: "model", "arch", "locale", "install_location_safe", and, when known,
// "recent_errors" and "free_disk".
class FeedbackDiagnostics
{
public:
    struct Sources
    {
        SystemFactsPtr facts;
        QLocale locale;
        std::function<AppRuntimeGuard::Risk()> installRisk;
        // Where the error reporter keeps its recent reports.
        DefaultsStorePtr defaults;
        // Free space of the home folder's volume in bytes; nothing when unknown.
        std::function<std::optional<qint64>()> freeDiskSpace;
    };

    explicit FeedbackDiagnostics(Sources sources);
    // This machine: its facts, the system locale, the running program's
    // location and the volume of the given home folder.
    static FeedbackDiagnostics platform(DefaultsStorePtr defaults, const QString& homePath);

    QMap<QString, QString> collect() const;
    // "hw.model", or "unknown".
    QString hardwareModel() const;
    // The architecture the program was built for: "arm64", "x86_64", …
    static QString buildArchitecture();

private:
    Sources m_sources;
};
