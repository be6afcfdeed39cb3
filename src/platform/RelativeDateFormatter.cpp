#include "RelativeDateFormatter.h"

#include <QLocale>

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

#include <cmath>
#include <memory>

QString RelativeDateFormatter::userLocaleName()
{
    const QString name = QLocale::system().name();
    if (name.isEmpty() || name == QLatin1String("C") || name.startsWith(QLatin1String("POSIX"))) {
        return QStringLiteral("ru_RU");
    }
    return name;
}

QString RelativeDateFormatter::format(const QDateTime& date, const QDateTime& now)
{
    return format(date, now, userLocaleName());
}

QString RelativeDateFormatter::format(const QDateTime& date, const QDateTime& now, const QString& localeName)
{
    const qint64 seconds = date.secsTo(now);
    const qint64 magnitude = seconds < 0 ? -seconds : seconds;
    const double sign = seconds < 0 ? 1.0 : -1.0;

    UDateRelativeUnit unit = UDAT_RELATIVE_SECONDS;
    double value = double(magnitude);
    if (magnitude >= 365 * 86400) {
        unit = UDAT_RELATIVE_YEARS;
        value = std::floor(double(magnitude) / (365.2425 * 86400));
    } else if (magnitude >= 30 * 86400) {
        unit = UDAT_RELATIVE_MONTHS;
        value = std::floor(double(magnitude) / (30.436875 * 86400));
    } else if (magnitude >= 7 * 86400) {
        unit = UDAT_RELATIVE_WEEKS;
        value = std::floor(double(magnitude) / (7 * 86400));
    } else if (magnitude >= 86400) {
        unit = UDAT_RELATIVE_DAYS;
        value = std::floor(double(magnitude) / 86400);
    } else if (magnitude >= 3600) {
        unit = UDAT_RELATIVE_HOURS;
        value = std::floor(double(magnitude) / 3600);
    } else if (magnitude >= 60) {
        unit = UDAT_RELATIVE_MINUTES;
        value = std::floor(double(magnitude) / 60);
    }

    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale(localeName.toLatin1().constData());
    icu::RelativeDateTimeFormatter formatter(locale, status);
    if (U_FAILURE(status)) {
        return {};
    }
    icu::UnicodeString result;
    formatter.format(value, sign < 0 ? UDAT_DIRECTION_LAST : UDAT_DIRECTION_NEXT, unit, result, status);
    if (U_FAILURE(status)) {
        return {};
    }
    return QString(reinterpret_cast<const QChar*>(result.getBuffer()), result.length());
}
