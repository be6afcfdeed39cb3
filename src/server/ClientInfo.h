#pragma once

#include <QDateTime>
#include <QString>

// What every record sent to the maker's server says about the program and
// the system it runs on.
struct ClientInfo
{
    QString appVersion = QStringLiteral("0.0.0");
    QString build = QStringLiteral("0");
    QString osVersion;

    // The bundle's version and build (with the fallbacks above) and the
    // system's human-readable version, such as
    // "Debian GNU/Linux 12 (bookworm), kernel 6.1.0-18-amd64".
    static ClientInfo current();
    // ISO 8601 in UTC without fractions: 2026-03-14T06:30:15Z.
    static QString timestamp(const QDateTime& moment);
};
