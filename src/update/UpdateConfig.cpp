#include "UpdateConfig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

std::optional<UpdateConfig> UpdateConfig::decode(const QByteArray& json, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        *error = QStringLiteral("Файл обновлений повреждён: это не объект JSON");
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    UpdateConfig config;
    const auto required = [&](const char* key, QString* out) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (!value.isString()) {
            *error = value.isUndefined() ? QStringLiteral("В файле обновлений нет поля «%1»").arg(QLatin1String(key))
                                         : QStringLiteral("Поле «%1» файла обновлений должно быть строкой")
                                               .arg(QLatin1String(key));
            return false;
        }
        *out = value.toString();
        return true;
    };
    if (!required("version", &config.version) || !required("build", &config.build)
        || !required("download_url", &config.downloadURL) || !required("release_notes", &config.releaseNotes)) {
        return std::nullopt;
    }
    const QJsonValue sha = object.value(QLatin1String("sha256"));
    if (sha.isString()) {
        config.sha256 = sha.toString();
    } else if (!sha.isUndefined() && !sha.isNull()) {
        *error = QStringLiteral("Поле «sha256» файла обновлений должно быть строкой");
        return std::nullopt;
    }
    if (!isSafeVersionText(config.version)) {
        *error = QStringLiteral("Недопустимый номер версии в файле обновлений");
        return std::nullopt;
    }
    return config;
}

bool UpdateConfig::isSafeVersionText(const QString& version)
{
    static const QRegularExpression safe(QStringLiteral("^[0-9A-Za-z][0-9A-Za-z.+_-]{0,63}$"));
    return safe.match(version).hasMatch();
}
