#pragma once

#include <QtGlobal>
#include <QtNumeric>

#include <cmath>
#include <limits>

// Numbers read back from the small JSON stores. A JSON number is a double:
// a count or a byte total is taken only when it is a whole number from 0 to
// 2^53 (where doubles stop being exact, and far beyond any disk), so that a
// damaged or hand-edited store can never turn into a negative size, an
// overflowing total or a date outside the calendar. Totals saturate instead
// of wrapping.
namespace StoredNumbers {

constexpr double largestCount = 9007199254740992.0; // 2^53

inline bool isCount(double value)
{
    return std::isfinite(value) && value >= 0 && value <= largestCount && value == std::trunc(value);
}

// Seconds since 2001-01-01: years 1 to 9999.
inline bool isReferenceDate(double seconds)
{
    return std::isfinite(seconds) && seconds > -63113904000.0 && seconds < 252423993600.0;
}

inline qint64 add(qint64 a, qint64 b)
{
    qint64 sum = 0;
    if (qAddOverflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    }
    return sum;
}

} // namespace StoredNumbers
