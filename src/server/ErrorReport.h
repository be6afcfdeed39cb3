#pragma once

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

// One anonymous error report, as sent to the server and kept in the queue.
struct ErrorReport
{
    QString anonymousId;
    QString feature;
    QString message;
    QString appVersion;
    QString build;
    QString osVersion;
    QString timestamp;
    QMap<QString, QString> context;

    // anonymous_id, feature, message, app_version, build, os_version,
    // timestamp, context; no other keys.
    QJsonObject toJsonObject() const;
    // Strict: every key present with the right type.
    static std::optional<ErrorReport> fromJsonObject(const QJsonObject& object);

    bool operator==(const ErrorReport& other) const = default;
};

using ErrorReportList = QList<ErrorReport>;
