#include "ByteCountFormatter.h"

#include <cmath>
#include <cstdlib>

QString ByteCountFormatter::bytesWord(qint64 count)
{
    const qint64 n = count < 0 ? -(count % 1000) : count;
    const qint64 lastTwo = n % 100;
    const qint64 last = n % 10;
    if (last == 1 && lastTwo != 11) {
        return QStringLiteral("байт");
    }
    if (last >= 2 && last <= 4 && (lastTwo < 12 || lastTwo > 14)) {
        return QStringLiteral("байта");
    }
    return QStringLiteral("байт");
}

QString ByteCountFormatter::format(qint64 bytes)
{
    const double magnitude = std::fabs(double(bytes));
    if (magnitude < 1000.0) {
        return QString::number(bytes) + QLatin1Char(' ') + bytesWord(bytes);
    }
    struct Unit
    {
        const char16_t* name;
        int decimals;
    };
    static const Unit units[] = {{u"КБ", 0}, {u"МБ", 1}, {u"ГБ", 2}, {u"ТБ", 2}, {u"ПБ", 2}, {u"ЭБ", 2}};
    double value = double(bytes) / 1000.0;
    size_t unit = 0;
    for (;;) {
        const double scale = std::pow(10.0, units[unit].decimals);
        const double rounded = std::round(value * scale) / scale;
        // 999 999 bytes rounds to "1000 КБ"; show it as "1 МБ" instead.
        if (std::fabs(rounded) >= 1000.0 && unit + 1 < std::size(units)) {
            value /= 1000.0;
            ++unit;
            continue;
        }
        QString text = QString::number(rounded, 'f', units[unit].decimals);
        if (text.contains(QLatin1Char('.'))) {
            while (text.endsWith(QLatin1Char('0'))) {
                text.chop(1);
            }
            if (text.endsWith(QLatin1Char('.'))) {
                text.chop(1);
            }
        }
        text.replace(QLatin1Char('.'), QLatin1Char(','));
        return text + QLatin1Char(' ') + QString::fromUtf16(units[unit].name);
    }
}
