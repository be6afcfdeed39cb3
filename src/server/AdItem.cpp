#include "AdItem.h"

namespace {

bool readRequired(const QJsonObject& object, const char* key, QString* out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString()) {
        return false;
    }
    *out = value.toString();
    return true;
}

bool readOptional(const QJsonObject& object, const char* key, std::optional<QString>* out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) {
        return true;
    }
    if (!value.isString()) {
        return false;
    }
    *out = value.toString();
    return true;
}

} // namespace

std::optional<AdItem> AdItem::fromJsonObject(const QJsonObject& object)
{
    AdItem item;
    if (!readRequired(object, "id", &item.id) || !readRequired(object, "title", &item.title)
        || !readRequired(object, "subtitle", &item.subtitle) || !readRequired(object, "url", &item.url)
        || !readOptional(object, "sponsor", &item.sponsor) || !readOptional(object, "imageAsset", &item.imageAsset)
        || !readOptional(object, "imageURL", &item.imageURL)) {
        return std::nullopt;
    }
    return item;
}

QJsonObject AdItem::toJsonObject() const
{
    QJsonObject object{
        {QStringLiteral("id"), id},
        {QStringLiteral("title"), title},
        {QStringLiteral("subtitle"), subtitle},
        {QStringLiteral("url"), url},
    };
    if (sponsor) {
        object.insert(QStringLiteral("sponsor"), *sponsor);
    }
    if (imageAsset) {
        object.insert(QStringLiteral("imageAsset"), *imageAsset);
    }
    if (imageURL) {
        object.insert(QStringLiteral("imageURL"), *imageURL);
    }
    return object;
}
