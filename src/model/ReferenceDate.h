#pragma once

#include <QDateTime>

#include <algorithm>
#include <cmath>

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
    // Stored dates are range-checked on reading; this keeps any other value
    // from overflowing the conversion.
    seconds = std::isfinite(seconds) ? std::clamp(seconds, -63113904000.0, 252423993600.0) : 0.0;
    return QDateTime::fromMSecsSinceEpoch(qint64(seconds * 1000.0) + unixOffsetSeconds * 1000, Qt::UTC);
}
} // namespace ReferenceDate
