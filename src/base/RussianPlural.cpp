#include "RussianPlural.h"

#include <unicode/locid.h>
#include <unicode/plurrule.h>
#include <unicode/unistr.h>

#include <memory>

namespace {

enum class Category { one, few, many };

const icu::PluralRules* russianRules()
{
    // Built once: the rules are immutable and select() is safe from any thread.
    static const std::unique_ptr<icu::PluralRules> rules = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::PluralRules> made(icu::PluralRules::forLocale(icu::Locale("ru"), status));
        return U_SUCCESS(status) ? std::move(made) : nullptr;
    }();
    return rules.get();
}

Category categoryOf(qint64 count)
{
    const quint64 n = count < 0 ? quint64(0) - quint64(count) : quint64(count);
    const icu::PluralRules* rules = russianRules();
    if (!rules)
        return Category::many;
    // The rules look only at the last two digits; this keeps the value exact as a double.
    const icu::UnicodeString keyword = rules->select(double(n % 1000));
    if (keyword == icu::UnicodeString(u"one"))
        return Category::one;
    if (keyword == icu::UnicodeString(u"few"))
        return Category::few;
    return Category::many;
}

} // namespace

QString RussianPlural::form(qint64 count, const RussianNoun& noun)
{
    switch (categoryOf(count)) {
    case Category::one:
        return noun.one;
    case Category::few:
        return noun.few;
    case Category::many:
        break;
    }
    return noun.many;
}

QString RussianPlural::count(qint64 count, const RussianNoun& noun)
{
    return QString::number(count) + QLatin1Char(' ') + form(count, noun);
}
