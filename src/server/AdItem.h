#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// One banner: a short announcement that opens a web page when clicked.
struct AdItem
{
    // Also the file name stem of its cached picture, when it is a safe one.
    QString id;
    QString title;
    QString subtitle;
    QString url;
    std::optional<QString> sponsor;
    // A picture shipped with the program.
    std::optional<QString> imageAsset;
    // A picture to download.
    std::optional<QString> imageURL;

    // id, title, subtitle and url are required strings; the others may be
    // missing or null. Anything else makes the banner unreadable.
    static std::optional<AdItem> fromJsonObject(const QJsonObject& object);
    QJsonObject toJsonObject() const;

    bool operator==(const AdItem& other) const = default;
};

using AdItemList = QList<AdItem>;
