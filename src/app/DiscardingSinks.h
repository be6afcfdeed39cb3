#pragma once

#include "model/ErrorReportSink.h"
#include "model/UsageEventSink.h"

// Sinks for a program that sends nothing: the command-line front end until
// the server services are wired in, and tests that do not look at events.
class DiscardingUsageSink : public UsageEventSink
{
public:
    void track(const QString&, const QMap<QString, QString>&, bool, const QString&) override {}
    QString anonymousId() const override { return {}; }
};

class DiscardingErrorSink : public ErrorReportSink
{
public:
    void configure(const AppSettings&, const QString&) override {}
    void report(AppFeature, const QString&, const QMap<QString, QString>&) override {}
    void reportOperationErrors(AppFeature, const QStringList&, const QMap<QString, QString>&) override {}
};
