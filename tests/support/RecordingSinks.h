#pragma once

#include "model/AppSettings.h"
#include "model/ErrorReportSink.h"
#include "model/UsageEventSink.h"

#include <QMutex>
#include <QMutexLocker>

// Sinks that keep what the application state sends, for tests to look at.
class RecordingUsageSink : public UsageEventSink
{
public:
    struct Event
    {
        QString name;
        QMap<QString, QString> metadata;
        bool enabled;
    };
    void track(const QString& event, const QMap<QString, QString>& metadata, bool enabled, const QString&) override
    {
        events.append({event, metadata, enabled});
    }
    QString anonymousId() const override { return QStringLiteral("ANON-ID"); }
    QStringList names() const
    {
        QStringList list;
        for (const Event& e : events) {
            list.append(e.name);
        }
        return list;
    }
    QList<Event> events;
};

class RecordingErrorSink : public ErrorReportSink
{
public:
    struct Report
    {
        AppFeature feature;
        QStringList errors;
        QMap<QString, QString> context;
    };
    void configure(const AppSettings& settings, const QString& anonymousId) override
    {
        QMutexLocker lock(&mutex);
        configured.append({settings.errorsEndpoint, anonymousId});
    }
    void report(AppFeature feature, const QString& message, const QMap<QString, QString>& context) override
    {
        QMutexLocker lock(&mutex);
        reports.append({feature, {message}, context});
    }
    void reportOperationErrors(AppFeature feature, const QStringList& errors,
                               const QMap<QString, QString>& context) override
    {
        QMutexLocker lock(&mutex);
        reports.append({feature, errors, context});
    }
    int configureCount()
    {
        QMutexLocker lock(&mutex);
        return int(configured.size());
    }
    QMutex mutex;
    QList<std::pair<QString, QString>> configured;
    QList<Report> reports;
};
