#pragma once

#include "AppFeature.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>

struct AppSettings;

// Where failures go to be reported anonymously. Every call returns at once;
// delivery happens in the background. Safe to call from any thread.
class ErrorReportSink
{
public:
    virtual ~ErrorReportSink() = default;
    virtual void configure(const AppSettings& settings, const QString& anonymousId) = 0;
    virtual void report(AppFeature feature, const QString& message, const QMap<QString, QString>& context) = 0;
    // One report for an operation that collected several messages; nothing
    // for an empty list.
    virtual void reportOperationErrors(AppFeature feature, const QStringList& errors,
                                       const QMap<QString, QString>& context) = 0;
};

using ErrorReportSinkPtr = std::shared_ptr<ErrorReportSink>;
