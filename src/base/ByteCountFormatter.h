#pragma once

#include <QString>

// Decimal file sizes in Russian, as the window shows them: 1 kB = 1000 B,
// a non-breaking space before the unit,
// comma decimal separator, the Russian plural of "байт" ("1 байт",
// "2 байта", "5 байт"), one fraction digit for megabytes and two from
// gigabytes up, trailing zeros dropped ("1,2 МБ", "21,47 ГБ", "3 ГБ").
namespace ByteCountFormatter {
QString format(qint64 bytes);
QString bytesWord(qint64 count);
} // namespace ByteCountFormatter
