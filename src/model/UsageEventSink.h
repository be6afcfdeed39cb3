#pragma once

#include <QMap>
#include <QString>

#include <memory>

// Where the application state sends its anonymous usage events. The sink is
// given the current switch and endpoint with every event and drops the event
// when analytics is switched off. Called on the main thread; must not block.
class UsageEventSink
{
public:
    virtual ~UsageEventSink() = default;
    virtual void track(const QString& event, const QMap<QString, QString>& metadata, bool enabled,
                       const QString& endpoint) = 0;
    // The anonymous installation id (empty until one exists).
    virtual QString anonymousId() const = 0;
};

using UsageEventSinkPtr = std::shared_ptr<UsageEventSink>;
