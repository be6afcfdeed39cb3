#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// One request as the loopback server received it.
struct RecordedRequest
{
    QByteArray method;
    QString path;
    QString query;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;

    std::optional<QByteArray> header(const QByteArray& name) const
    {
        for (const auto& [key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0) {
                return value;
            }
        }
        return std::nullopt;
    }
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};
