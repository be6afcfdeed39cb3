#pragma once

#include <QString>

// Russian nouns after a count: "1 элемент", "2 элемента", "5 элементов",
// "21 элемент". The form is chosen by ICU's plural rules for Russian
// (one, few, many), so every text of the window and the command line that
// puts a count before a noun agrees with it the same way.
struct RussianNoun
{
    QString one;
    QString few;
    QString many;
};

namespace RussianPlural {
// The form of noun that agrees with count (negative counts as their magnitude).
QString form(qint64 count, const RussianNoun& noun);
// The count as a whole number, a space and the agreeing form of noun.
QString count(qint64 count, const RussianNoun& noun);

inline const RussianNoun items{QStringLiteral("элемент"), QStringLiteral("элемента"), QStringLiteral("элементов")};
inline const RussianNoun files{QStringLiteral("файл"), QStringLiteral("файла"), QStringLiteral("файлов")};
inline const RussianNoun caches{QStringLiteral("кэш"), QStringLiteral("кэша"), QStringLiteral("кэшей")};
inline const RussianNoun bytes{QStringLiteral("байт"), QStringLiteral("байта"), QStringLiteral("байт")};
} // namespace RussianPlural
