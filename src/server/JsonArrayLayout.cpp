#include "JsonArrayLayout.h"

#include <cstring>

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

qsizetype skipSpace(const QByteArray& text, qsizetype at)
{
    while (at < text.size() && isSpace(text.at(at))) {
        ++at;
    }
    return at;
}

// The closing quote of the string whose text starts at `from`, or null. A
// quote preceded by an odd run of backslashes is part of the text.
const char* pastString(const char* from, const char* end)
{
    for (const char* quote = from;; ++quote) {
        quote = static_cast<const char*>(std::memchr(quote, '"', end - quote));
        if (!quote) {
            return nullptr;
        }
        const char* escapes = quote;
        while (escapes > from && escapes[-1] == '\\') {
            --escapes;
        }
        if ((quote - escapes) % 2 == 0) {
            return quote;
        }
    }
}

// The offset just past the object that opens at `at`, or -1 when it is not
// closed. Brackets inside strings do not count; a backslash escapes the next
// character. Every event of a command passes the whole queue through here,
// so the text is walked by pointer and strings are skipped by memchr.
qsizetype pastObject(const QByteArray& text, qsizetype at)
{
    const char* const begin = text.constData();
    const char* const end = begin + text.size();
    int depth = 0;
    for (const char* p = begin + at; p < end; ++p) {
        switch (*p) {
        case '"':
            p = pastString(p + 1, end);
            if (!p) {
                return -1;
            }
            break;
        case '{':
        case '[':
            ++depth;
            break;
        case '}':
        case ']':
            if (--depth == 0) {
                return *p == '}' ? (p - begin) + 1 : -1;
            }
            if (depth < 0) {
                return -1;
            }
            break;
        default:
            break;
        }
    }
    return -1;
}

} // namespace

std::optional<JsonArrayLayout> JsonArrayLayout::of(const QByteArray& text)
{
    qsizetype at = skipSpace(text, 0);
    if (at >= text.size() || text.at(at) != '[') {
        return std::nullopt;
    }
    JsonArrayLayout layout;
    at = skipSpace(text, at + 1);
    if (at < text.size() && text.at(at) == ']') {
        layout.close = at;
    } else {
        for (;;) {
            if (at >= text.size() || text.at(at) != '{') {
                return std::nullopt;
            }
            layout.starts.append(at);
            at = pastObject(text, at);
            if (at < 0) {
                return std::nullopt;
            }
            at = skipSpace(text, at);
            if (at >= text.size()) {
                return std::nullopt;
            }
            if (text.at(at) == ']') {
                layout.close = at;
                break;
            }
            if (text.at(at) != ',') {
                return std::nullopt;
            }
            at = skipSpace(text, at + 1);
        }
    }
    if (skipSpace(text, layout.close + 1) != text.size()) {
        return std::nullopt;
    }
    return layout;
}
