#include "ByteCountFormatter.h"

#include "RussianPlural.h"

#include <cmath>
#include <cstdlib>

namespace {
// A size never breaks between its number and its unit.
constexpr QChar unitSpace(0x00a0);
} // namespace

QString ByteCountFormatter::bytesWord(qint64 count)
{
    return RussianPlural::form(count, RussianPlural::bytes);
}

QString ByteCountFormatter::format(qint64 bytes)
{
    const double magnitude = std::fabs(double(bytes));
    if (magnitude < 1000.0) {
        return QString::number(bytes) + unitSpace + bytesWord(bytes);
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
        return text + unitSpace + QString::fromUtf16(units[unit].name);
    }
}
