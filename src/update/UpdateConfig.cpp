#include "UpdateConfig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

Outcome<UpdateConfig> UpdateConfig::decode(const QByteArray& json)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        return Failure{QStringLiteral("Файл обновлений повреждён: это не объект JSON")};
    }
    const QJsonObject object = document.object();
    UpdateConfig config;
    const std::pair<const char*, QString*> required[] = {{"version", &config.version},
                                                         {"build", &config.build},
                                                         {"download_url", &config.downloadURL},
                                                         {"release_notes", &config.releaseNotes}};
    for (const auto& [key, out] : required) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (!value.isString()) {
            return Failure{value.isUndefined()
                               ? QStringLiteral("В файле обновлений нет поля «%1»").arg(QLatin1String(key))
                               : QStringLiteral("Поле «%1» файла обновлений должно быть строкой").arg(QLatin1String(key))};
        }
        *out = value.toString();
    }
    const QJsonValue sha = object.value(QLatin1String("sha256"));
    if (sha.isString()) {
        config.sha256 = sha.toString();
    } else if (!sha.isUndefined() && !sha.isNull()) {
        return Failure{QStringLiteral("Поле «sha256» файла обновлений должно быть строкой")};
    }
    if (!isSafeVersionText(config.version)) {
        return Failure{QStringLiteral("Недопустимый номер версии в файле обновлений")};
    }
    return config;
}

bool UpdateConfig::isSafeVersionText(const QString& version)
{
    static const QRegularExpression safe(QStringLiteral("^[0-9A-Za-z][0-9A-Za-z.+_-]{0,63}$"));
    return safe.match(version).hasMatch();
}
