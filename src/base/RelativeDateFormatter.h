#pragma once

#include <QDateTime>
#include <QString>

// "3 дня назад", "через 2 часа": a date relative to now, in the largest
// whole calendar unit (15 February is a month before 15 March), "только
// что" within a minute either way, by ICU's
// relative date-time formatter in the user's locale. Russian when the locale
// is C/POSIX or unset, since the interface is Russian.
namespace RelativeDateFormatter {
QString format(const QDateTime& date, const QDateTime& now);
QString format(const QDateTime& date, const QDateTime& now, const QString& localeName);
// The ICU locale the formatter uses for this process.
QString userLocaleName();
} // namespace RelativeDateFormatter
