#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

// Where the elements of a JSON array of objects lie in its text, found
// without decoding them: a queue that grows by one record takes the record's
// text beside the old text, instead of decoding and encoding hundreds of
// records on every event.
//
// Only the shape is checked (an array whose elements are objects, brackets
// and strings closed); whether the objects hold valid records is for the
// reader to decide.
struct JsonArrayLayout
{
    // Offset of each element's opening brace, in order.
    QList<qsizetype> starts;
    // Offset of the closing bracket of the array.
    qsizetype close = 0;

    qsizetype count() const { return starts.size(); }

    // Nothing when text is not an array of objects.
    static std::optional<JsonArrayLayout> of(const QByteArray& text);
};
