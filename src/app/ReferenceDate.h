#pragma once

#include <QDateTime>

// Local stores keep dates as seconds (with fraction) since 2001-01-01 00:00:00
// UTC, as a JSON number. Keeping the double itself, not a QDateTime, in the
// records means a stored date reads back bit for bit.
namespace ReferenceDate {
constexpr qint64 unixOffsetSeconds = 978307200;

inline double fromDateTime(const QDateTime& dateTime)
{
    return double(dateTime.toMSecsSinceEpoch() - unixOffsetSeconds * 1000) / 1000.0;
}

inline QDateTime toDateTime(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(seconds * 1000.0) + unixOffsetSeconds * 1000, Qt::UTC);
}
} // namespace ReferenceDate
