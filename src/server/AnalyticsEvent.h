#pragma once

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

// One anonymous usage event, as sent to the server and kept in the queue.
struct AnalyticsEvent
{
    QString anonymousId;
    QString event;
    QString appVersion;
    QString build;
    QString osVersion;
    QString timestamp;
    QMap<QString, QString> metadata;

    // anonymous_id, event, app_version, build, os_version, timestamp,
    // metadata; no other keys.
    QJsonObject toJsonObject() const;
    // Strict: every key present with the right type.
    static std::optional<AnalyticsEvent> fromJsonObject(const QJsonObject& object);

    bool operator==(const AnalyticsEvent& other) const = default;
};

using AnalyticsEventList = QList<AnalyticsEvent>;
