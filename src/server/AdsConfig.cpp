#include "AdsConfig.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

std::optional<AdsConfig> AdsConfig::decode(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const QJsonValue banners = object.value(QLatin1String("banners"));
    if (!banners.isArray()) {
        return std::nullopt;
    }
    AdsConfig config;
    for (const QJsonValue& value : banners.toArray()) {
        if (!value.isObject()) {
            return std::nullopt;
        }
        std::optional<AdItem> item = AdItem::fromJsonObject(value.toObject());
        if (!item) {
            return std::nullopt;
        }
        config.banners.append(std::move(*item));
    }
    const QJsonValue rotate = object.value(QLatin1String("rotateSeconds"));
    if (!rotate.isUndefined() && !rotate.isNull()) {
        const double seconds = rotate.toDouble(std::nan(""));
        if (!rotate.isDouble() || !std::isfinite(seconds) || seconds != std::trunc(seconds)
            || std::abs(seconds) > 9.0e15) {
            return std::nullopt;
        }
        config.rotateSeconds = qint64(seconds);
    }
    return config;
}

AdsConfig AdsConfig::fallback()
{
    const auto banner = [](const char* id, const QString& title, const QString& subtitle, const char* path) {
        AdItem item;
        item.id = QLatin1String(id);
        item.title = title;
        item.subtitle = subtitle;
        item.url = QStringLiteral("https://korvane.ru") + QLatin1String(path);
        item.sponsor = QStringLiteral("Korvane");
        return item;
    };
    AdsConfig config;
    config.banners = {
        banner("korvane-vella-guide", QStringLiteral("Как освободить место без потерь"),
               QStringLiteral("Короткое руководство по архиву и откату переноса"), "/brisko-vella/install#faq"),
        banner("korvane-backup", QStringLiteral("Резервные копии Korvane"),
               QStringLiteral("Храните архивы на внешнем диске — проверено Brisko Vella"), "/backup"),
        banner("korvane-support", QStringLiteral("Поддержка Korvane"),
               QStringLiteral("Ответим на вопросы о Brisko Vella в течение дня"), "/support"),
    };
    return config;
}
