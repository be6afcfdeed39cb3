#pragma once

#include "model/ErrorReportSink.h"

#include <QMutex>
#include <QStringList>

// Passes every report on and keeps the messages of the operation reports,
// so that a command can show the user the same per-item failures the
// application state sends to the error reporter.
class CollectingErrorSink : public ErrorReportSink
{
public:
    explicit CollectingErrorSink(ErrorReportSinkPtr next);

    void configure(const AppSettings& settings, const QString& anonymousId) override;
    void report(AppFeature feature, const QString& message, const QMap<QString, QString>& context) override;
    void reportOperationErrors(AppFeature feature, const QStringList& errors,
                               const QMap<QString, QString>& context) override;

    // The messages of the operation reports since the last call, in order.
    QStringList takeOperationErrors();

private:
    ErrorReportSinkPtr m_next;
    QMutex m_mutex;
    QStringList m_operationErrors;
};
