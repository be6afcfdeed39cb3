#include "JsonArrayLayout.h"

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

// The offset just past the object that opens at `at`, or -1 when it is not
// closed. Brackets inside strings do not count; a backslash escapes the next
// character.
qsizetype pastObject(const QByteArray& text, qsizetype at)
{
    int depth = 0;
    bool inString = false;
    for (; at < text.size(); ++at) {
        const char c = text.at(at);
        if (inString) {
            if (c == '\\') {
                ++at;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            break;
        case '{':
        case '[':
            ++depth;
            break;
        case '}':
        case ']':
            if (--depth == 0) {
                return c == '}' ? at + 1 : -1;
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
