#include "AnalyticsEvent.h"

#include "JsonFields.h"

QJsonObject AnalyticsEvent::toJsonObject() const
{
    return {
        {QStringLiteral("anonymous_id"), anonymousId},
        {QStringLiteral("event"), event},
        {QStringLiteral("app_version"), appVersion},
        {QStringLiteral("build"), build},
        {QStringLiteral("os_version"), osVersion},
        {QStringLiteral("timestamp"), timestamp},
        {QStringLiteral("metadata"), JsonFields::stringMap(metadata)},
    };
}

std::optional<AnalyticsEvent> AnalyticsEvent::fromJsonObject(const QJsonObject& object)
{
    using namespace JsonFields;
    AnalyticsEvent event;
    if (!readString(object, "anonymous_id", &event.anonymousId) || !readString(object, "event", &event.event)
        || !readString(object, "app_version", &event.appVersion) || !readString(object, "build", &event.build)
        || !readString(object, "os_version", &event.osVersion) || !readString(object, "timestamp", &event.timestamp)
        || !readStringMap(object, "metadata", &event.metadata)) {
        return std::nullopt;
    }
    return event;
}
