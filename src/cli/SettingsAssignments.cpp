#include "SettingsAssignments.h"

#include "model/FanControlMode.h"
#include "model/ReferenceDate.h"
#include "model/VideoSearchMode.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace {

const QLatin1String eulaAcceptedAtKey("eulaAcceptedAt");

QString quoted(const QString& text)
{
    return QStringLiteral("«") + text + QStringLiteral("»");
}

} // namespace

std::optional<AppSettings> SettingsAssignments::apply(const AppSettings& current, const QStringList& assignments,
                                                      QString* error)
{
    QJsonObject settings;
    if (!current.toJsonObject(&settings)) {
        *error = QStringLiteral("текущие настройки содержат нечисловые значения");
        return std::nullopt;
    }
    for (const QString& assignment : assignments) {
        const qsizetype equals = assignment.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            *error = QStringLiteral("ожидается ПОЛЕ=ЗНАЧЕНИЕ, получено %1").arg(quoted(assignment));
            return std::nullopt;
        }
        if (!assign(&settings, assignment.left(equals), assignment.mid(equals + 1), error)) {
            return std::nullopt;
        }
    }
    std::optional<AppSettings> result = AppSettings::fromJsonObject(settings);
    if (!result) {
        *error = QStringLiteral("настройки с такими значениями не принимаются");
    }
    return result;
}

std::optional<SettingsAssignments::Kind> SettingsAssignments::kindOf(const QString& field,
                                                                     const QJsonObject& settings)
{
    // Fields whose JSON form does not tell their type: whole numbers look
    // like any number, enumerations and dates have their own rules.
    if (field == QLatin1String("archiveCandidateMinDays") || field == QLatin1String("installerMaxAgeDays")) {
        return Kind::integer;
    }
    if (field == QLatin1String("videoSearchMode")) {
        return Kind::videoSearchMode;
    }
    if (field == QLatin1String("fanControlMode")) {
        return Kind::fanControlMode;
    }
    if (field == QLatin1String("excludedPaths")) {
        return Kind::stringList;
    }
    if (field == eulaAcceptedAtKey) {
        return Kind::date;
    }
    // Every other field keeps the type of its current value, so a field
    // added to the record later can be set without touching this list.
    const QJsonValue value = settings.value(field);
    switch (value.type()) {
    case QJsonValue::Bool:
        return Kind::boolean;
    case QJsonValue::Double:
        return Kind::number;
    case QJsonValue::String:
        return Kind::string;
    default:
        return std::nullopt;
    }
}

bool SettingsAssignments::assign(QJsonObject* settings, const QString& field, const QString& value, QString* error)
{
    const std::optional<Kind> kind = kindOf(field, *settings);
    if (!kind) {
        *error = QStringLiteral("неизвестное поле %1").arg(quoted(field));
        return false;
    }
    if (*kind == Kind::date && value.isEmpty()) {
        // An empty date clears it: the record keeps no date at all then.
        settings->remove(field);
        return true;
    }
    const std::optional<QJsonValue> parsed = parse(*kind, field, value, error);
    if (!parsed) {
        return false;
    }
    settings->insert(field, *parsed);
    return true;
}

std::optional<QJsonValue> SettingsAssignments::parse(Kind kind, const QString& field, const QString& value,
                                                     QString* error)
{
    const QString prefix = quoted(field) + QStringLiteral(": ");
    const QString got = QStringLiteral(", получено ") + quoted(value);
    switch (kind) {
    case Kind::boolean:
        if (value == QLatin1String("true")) {
            return QJsonValue(true);
        }
        if (value == QLatin1String("false")) {
            return QJsonValue(false);
        }
        *error = prefix + QStringLiteral("ожидается true или false") + got;
        return std::nullopt;
    case Kind::number: {
        bool ok = false;
        const double number = value.toDouble(&ok);
        // Thresholds, percentages and temperatures below zero or without a
        // finite value make no sense to any reader of the record.
        if (!ok || !std::isfinite(number) || number < 0) {
            *error = prefix + QStringLiteral("ожидается неотрицательное конечное число") + got;
            return std::nullopt;
        }
        return QJsonValue(number == 0 ? 0.0 : number);
    }
    case Kind::integer: {
        bool ok = false;
        const qint64 number = value.toLongLong(&ok);
        if (!ok || number < 0) {
            *error = prefix + QStringLiteral("ожидается неотрицательное целое число") + got;
            return std::nullopt;
        }
        return QJsonValue(number);
    }
    case Kind::string:
        return QJsonValue(value);
    case Kind::videoSearchMode:
        if (!VideoSearchModes::fromRawValue(value)) {
            *error = prefix + QStringLiteral("ожидается %1 или %2")
                                  .arg(VideoSearchModes::rawValue(VideoSearchMode::namePrefix),
                                       VideoSearchModes::rawValue(VideoSearchMode::fileType))
                + got;
            return std::nullopt;
        }
        return QJsonValue(value);
    case Kind::fanControlMode:
        if (!FanControlModes::fromRawValue(value)) {
            *error = prefix + QStringLiteral("ожидается %1, %2 или %3")
                                  .arg(FanControlModes::rawValue(FanControlMode::system),
                                       FanControlModes::rawValue(FanControlMode::manual),
                                       FanControlModes::rawValue(FanControlMode::autoBoost))
                + got;
            return std::nullopt;
        }
        return QJsonValue(value);
    case Kind::stringList: {
        if (value.trimmed().startsWith(QLatin1Char('['))) {
            QJsonParseError parseError;
            const QJsonDocument document = QJsonDocument::fromJson(value.toUtf8(), &parseError);
            bool ok = parseError.error == QJsonParseError::NoError && document.isArray();
            const QJsonArray array = document.array();
            for (const QJsonValue& entry : array) {
                ok = ok && entry.isString();
            }
            if (!ok) {
                *error = prefix + QStringLiteral("ожидается массив строк JSON") + got;
                return std::nullopt;
            }
            return QJsonValue(array);
        }
        // Names around commas are trimmed; an empty value means no names.
        QJsonArray names;
        for (const QString& part : value.split(QLatin1Char(','))) {
            const QString name = part.trimmed();
            if (!name.isEmpty()) {
                names.append(name);
            }
        }
        return QJsonValue(names);
    }
    case Kind::date: {
        bool ok = false;
        const double seconds = value.toDouble(&ok);
        if (ok) {
            if (!std::isfinite(seconds)) {
                *error = prefix + QStringLiteral("ожидается конечное число секунд от 2001-01-01") + got;
                return std::nullopt;
            }
            return QJsonValue(seconds);
        }
        const QDateTime date = QDateTime::fromString(value, Qt::ISODateWithMs);
        if (!date.isValid()) {
            *error = prefix
                + QStringLiteral("ожидается дата ISO 8601 (2024-05-01T12:00:00Z) или число секунд от 2001-01-01")
                + got;
            return std::nullopt;
        }
        return QJsonValue(ReferenceDate::fromDateTime(date));
    }
    }
    *error = prefix + QStringLiteral("поле нельзя изменить");
    return std::nullopt;
}
