#pragma once

#include "ErrorReportingService.h"
#include "model/ErrorReportSink.h"

#include <memory>

// The error reporting seen from the rest of the program: every call returns
// at once, from any thread. Calls on the service's thread (the main thread)
// go straight to the service, so a report is stored before the call returns;
// calls from other threads are handed to that thread's event queue and take
// effect there, in no particular order relative to each other. Once the
// service is gone, calls do nothing.
class ErrorReporter : public ErrorReportSink
{
public:
    explicit ErrorReporter(std::shared_ptr<ErrorReportingService> service);

    void configure(const AppSettings& settings, const QString& anonymousId) override;
    void report(AppFeature feature, const QString& message, const QMap<QString, QString>& context) override;
    void reportOperationErrors(AppFeature feature, const QStringList& errors,
                               const QMap<QString, QString>& context) override;

    const std::shared_ptr<ErrorReportingService>& service() const { return m_service; }

    // From now on uncaught exceptions and fatal signals leave a report in
    // defaultCrashFilePath(), which the next configured reporter sends under
    // the feature crash.
    static void installCrashHandler();
    // Beside the defaults store: defaults.ini → defaults.crash.
    static QString defaultCrashFilePath();

    // The first five messages joined with " | ".
    static QString operationMessage(const QStringList& errors);
    // error_count, and more_errors "+N" beyond five.
    static QMap<QString, QString> operationContext(const QStringList& errors, QMap<QString, QString> context);

private:
    template <typename Work>
    void onServiceThread(Work work);

    std::shared_ptr<ErrorReportingService> m_service;
};
