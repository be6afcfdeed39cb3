#include "ClientInfo.h"

#include "scan/AppInfo.h"

#include <QSysInfo>

#include <cstdio>

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
    // Written out here: Qt's date formatter costs a command that tracks an
    // event more than the rest of the event together.
    const QDateTime utc = moment.toUTC();
    const QDate date = utc.date();
    const QTime time = utc.time();
    if (!utc.isValid() || date.year() < 0 || date.year() > 9999) {
        return utc.toString(Qt::ISODate);
    }
    char text[24];
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", date.year(), date.month(),
                                     date.day(), time.hour(), time.minute(), time.second());
    return QString::fromLatin1(text, length);
}
