#include "CoolingSnapshot.h"

#include <QJsonArray>

CoolingSnapshot CoolingSnapshot::loading()
{
    CoolingSnapshot snapshot;
    snapshot.note = QStringLiteral("Загрузка данных SMC…");
    return snapshot;
}

QJsonObject CoolingSnapshot::toJsonObject() const
{
    QJsonArray fanArray;
    for (const FanStatus& fan : fans) {
        QJsonObject object;
        object.insert(QLatin1String("id"), fan.id);
        object.insert(QLatin1String("name"), fan.name);
        object.insert(QLatin1String("currentRPM"), fan.currentRPM);
        object.insert(QLatin1String("minimumRPM"), fan.minimumRPM);
        object.insert(QLatin1String("maximumRPM"), fan.maximumRPM);
        if (fan.targetRPM) {
            object.insert(QLatin1String("targetRPM"), *fan.targetRPM);
        }
        fanArray.append(object);
    }
    QJsonArray temperatureArray;
    for (const TemperatureReading& reading : temperatures) {
        QJsonObject object;
        object.insert(QLatin1String("id"), reading.id);
        object.insert(QLatin1String("label"), reading.label);
        object.insert(QLatin1String("celsius"), reading.celsius);
        temperatureArray.append(object);
    }
    QJsonObject object;
    object.insert(QLatin1String("fans"), fanArray);
    object.insert(QLatin1String("temperatures"), temperatureArray);
    if (maxTemperature) {
        object.insert(QLatin1String("maxTemperature"), *maxTemperature);
    }
    object.insert(QLatin1String("isControllable"), isControllable);
    if (note) {
        object.insert(QLatin1String("note"), *note);
    }
    return object;
}
