#include "MacHealthSnapshot.h"

#include <QJsonArray>

QJsonObject MacHealthSnapshot::toJson() const
{
    QJsonObject machine;
    machine.insert(QLatin1String("marketingName"), hardware.marketingName);
    machine.insert(QLatin1String("modelIdentifier"), hardware.modelIdentifier);
    machine.insert(QLatin1String("chipName"), hardware.chipName);
    machine.insert(QLatin1String("memoryGB"), hardware.memoryGB);
    machine.insert(QLatin1String("processorCount"), hardware.processorCount);
    machine.insert(QLatin1String("osVersion"), hardware.osVersion);
    machine.insert(QLatin1String("isNotebook"), hardware.isNotebook);

    QJsonObject object;
    object.insert(QLatin1String("healthPercent"), healthPercent);
    object.insert(QLatin1String("hardware"), machine);
    object.insert(QLatin1String("reclaimableBytes"), reclaimableBytes);
    object.insert(QLatin1String("safeCleanupBytes"), safeCleanupBytes);
    object.insert(QLatin1String("itemCount"), itemCount);
    object.insert(QLatin1String("diskUsedPercent"),
                  diskUsedPercent ? QJsonValue(*diskUsedPercent) : QJsonValue(QJsonValue::Null));
    object.insert(QLatin1String("diskFreeBytes"),
                  diskFreeBytes ? QJsonValue(*diskFreeBytes) : QJsonValue(QJsonValue::Null));
    object.insert(QLatin1String("scannedAt"), scannedAt.isValid() ? QJsonValue(scannedAt.toUTC().toString(Qt::ISODate))
                                                                  : QJsonValue(QJsonValue::Null));
    object.insert(QLatin1String("tips"), QJsonArray::fromStringList(tips));
    return object;
}
