#pragma once

#include "model/AppSettings.h"

#include <QJsonObject>
#include <QStringList>

#include <optional>

// Turns "FIELD=VALUE" texts into a new settings record. Each value is read
// by its field's type; the edits go into the JSON form of the current record,
// which is then decoded strictly, so the result is exactly what the store
// would accept. All or nothing: one bad assignment rejects the whole list.
class SettingsAssignments
{
public:
    static std::optional<AppSettings> apply(const AppSettings& current, const QStringList& assignments,
                                            QString* error);

private:
    enum class Kind { boolean, number, integer, string, videoSearchMode, fanControlMode, stringList, date };

    static std::optional<Kind> kindOf(const QString& field, const QJsonObject& settings);
    static bool assign(QJsonObject* settings, const QString& field, const QString& value, QString* error);
    static std::optional<QJsonValue> parse(Kind kind, const QString& field, const QString& value, QString* error);
};
