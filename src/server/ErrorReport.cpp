#include "ErrorReport.h"

#include "JsonFields.h"

QJsonObject ErrorReport::toJsonObject() const
{
    return {
        {QStringLiteral("anonymous_id"), anonymousId},
        {QStringLiteral("feature"), feature},
        {QStringLiteral("message"), message},
        {QStringLiteral("app_version"), appVersion},
        {QStringLiteral("build"), build},
        {QStringLiteral("os_version"), osVersion},
        {QStringLiteral("timestamp"), timestamp},
        {QStringLiteral("context"), JsonFields::stringMap(context)},
    };
}

std::optional<ErrorReport> ErrorReport::fromJsonObject(const QJsonObject& object)
{
    using namespace JsonFields;
    ErrorReport report;
    if (!readString(object, "anonymous_id", &report.anonymousId) || !readString(object, "feature", &report.feature)
        || !readString(object, "message", &report.message) || !readString(object, "app_version", &report.appVersion)
        || !readString(object, "build", &report.build) || !readString(object, "os_version", &report.osVersion)
        || !readString(object, "timestamp", &report.timestamp) || !readStringMap(object, "context", &report.context)) {
        return std::nullopt;
    }
    return report;
}
