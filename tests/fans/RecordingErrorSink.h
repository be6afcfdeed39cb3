#pragma once

#include "model/ErrorReportSink.h"

#include <QMutex>

// Keeps every report so that a test can look at what would have been sent.
class RecordingErrorSink : public ErrorReportSink
{
public:
    struct Report
    {
        AppFeature feature;
        QString message;
        QMap<QString, QString> context;
    };

    void configure(const AppSettings&, const QString&) override {}
    void report(AppFeature feature, const QString& message, const QMap<QString, QString>& context) override
    {
        QMutexLocker lock(&m_mutex);
        m_reports.append({feature, message, context});
    }
    void reportOperationErrors(AppFeature feature, const QStringList& errors,
                               const QMap<QString, QString>& context) override
    {
        if (!errors.isEmpty()) {
            report(feature, errors.join(QStringLiteral(" | ")), context);
        }
    }

    QList<Report> reports() const
    {
        QMutexLocker lock(&m_mutex);
        return m_reports;
    }

private:
    mutable QMutex m_mutex;
    QList<Report> m_reports;
};
