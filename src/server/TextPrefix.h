#pragma once

#include <QString>

// The first count characters of text, never ending in half of a surrogate
// pair (a character outside the basic plane counts as two here).
inline QString textPrefix(const QString& text, qsizetype count)
{
    if (text.size() <= count) {
        return text;
    }
    if (count > 0 && text.at(count - 1).isHighSurrogate()) {
        --count;
    }
    return text.left(count);
}
