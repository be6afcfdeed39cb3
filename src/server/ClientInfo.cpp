#include "ClientInfo.h"

#include "scan/AppInfo.h"

#include <QSysInfo>

ClientInfo ClientInfo::current()
{
    ClientInfo info;
    info.appVersion = AppInfo::bundleString(QStringLiteral("CFBundleShortVersionString")).value_or(info.appVersion);
    info.build = AppInfo::bundleString(QStringLiteral("CFBundleVersion")).value_or(info.build);
    info.osVersion = QSysInfo::prettyProductName();
    const QString kernel = QSysInfo::kernelVersion();
    if (!kernel.isEmpty()) {
        info.osVersion += QStringLiteral(", kernel ") + kernel;
    }
    return info;
}

QString ClientInfo::timestamp(const QDateTime& moment)
{
    QDateTime utc = moment.toUTC();
    utc.setTime(QTime(utc.time().hour(), utc.time().minute(), utc.time().second()));
    return utc.toString(Qt::ISODate);
}
