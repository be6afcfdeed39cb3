#include "RelativeDateFormatter.h"

#include <QLocale>

#include <string_view>

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

namespace {

bool isUnsetLocale(const QString& name)
{
    return name.isEmpty() || name == QLatin1String("C") || name.startsWith(QLatin1String("C."))
        || name.startsWith(QLatin1String("POSIX"));
}

// Whole calendar months from `from` to `to` (from <= to), as a calendar counts
// them: 15 February to 15 March is one month although it is 28 days.
int wholeMonths(const QDateTime& from, const QDateTime& to)
{
    int months = (to.date().year() - from.date().year()) * 12 + (to.date().month() - from.date().month());
    if (months > 0 && from.addMonths(months) > to) {
        --months;
    }
    return months;
}

} // namespace

QString RelativeDateFormatter::userLocaleName()
{
    const QString name = QLocale::system().name();
    if (isUnsetLocale(name)) {
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
    if (!date.isValid() || !now.isValid()) {
        return {};
    }
    const bool future = date > now;
    // Calendar arithmetic in the user's time zone, so that a day is a date
    // change and a month a month, as the system formatter counts them.
    const QDateTime from = (future ? now : date).toLocalTime();
    const QDateTime to = (future ? date : now).toLocalTime();

    const int months = wholeMonths(from, to);
    const QDateTime afterMonths = from.addMonths(months);
    qint64 days = afterMonths.date().daysTo(to.date());
    if (days > 0 && afterMonths.addDays(days) > to) {
        --days;
    }
    const qint64 seconds = afterMonths.addDays(days).secsTo(to);

    // "Через 0 секунд" for a file written a moment ago (or stamped slightly
    // ahead by another machine's clock) reads as a fault; under a minute is "now".
    const bool justNow = months == 0 && days == 0 && seconds < 60;

    UDateRelativeUnit unit = UDAT_RELATIVE_SECONDS;
    double value = double(seconds);
    if (months >= 12) {
        unit = UDAT_RELATIVE_YEARS;
        value = months / 12;
    } else if (months > 0) {
        unit = UDAT_RELATIVE_MONTHS;
        value = months;
    } else if (days >= 7) {
        unit = UDAT_RELATIVE_WEEKS;
        value = double(days / 7);
    } else if (days > 0) {
        unit = UDAT_RELATIVE_DAYS;
        value = double(days);
    } else if (seconds >= 3600) {
        unit = UDAT_RELATIVE_HOURS;
        value = double(seconds / 3600);
    } else if (seconds >= 60) {
        unit = UDAT_RELATIVE_MINUTES;
        value = double(seconds / 60);
    }

    // "C" is not a language; ICU would answer in its root locale.
    const QString name = isUnsetLocale(localeName) ? QStringLiteral("ru_RU") : localeName;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale(name.toLatin1().constData());
    icu::RelativeDateTimeFormatter formatter(locale, status);
    if (U_FAILURE(status)) {
        return {};
    }
    icu::UnicodeString result;
    if (justNow && locale.getLanguage() == std::string_view("ru")) {
        // ICU's Russian "сейчас" reads as the present moment, not as the past one.
        return QStringLiteral("только что");
    }
    if (justNow) {
        formatter.format(UDAT_DIRECTION_PLAIN, UDAT_ABSOLUTE_NOW, result, status);
    } else {
        formatter.format(value, future ? UDAT_DIRECTION_NEXT : UDAT_DIRECTION_LAST, unit, result, status);
    }
    if (U_FAILURE(status)) {
        return {};
    }
    return QString(reinterpret_cast<const QChar*>(result.getBuffer()), result.length());
}
