#include "TarReader.h"

#include <QIODevice>

#include <algorithm>
#include <optional>
#include <string_view>

namespace {

constexpr qint64 blockSize = 512;
constexpr qint64 maxExtensionBytes = 64 * 1024;
// Extended headers that precede one member; more is an attack on memory or time.
constexpr int maxExtensionsPerEntry = 8;

qint64 padded(qint64 size)
{
    return (size + blockSize - 1) / blockSize * blockSize;
}

// Octal with the GNU base-256 form for large values refused: nothing in an
// update comes near 8 GiB.
bool parseOctal(const char* field, int length, qint64* out)
{
    qint64 value = 0;
    int i = 0;
    while (i < length && (field[i] == ' ' || field[i] == '\0')) {
        ++i;
    }
    bool any = false;
    for (; i < length && field[i] >= '0' && field[i] <= '7'; ++i) {
        if (value > (qint64(1) << 55)) {
            return false;
        }
        value = value * 8 + (field[i] - '0');
        any = true;
    }
    for (; i < length; ++i) {
        if (field[i] != ' ' && field[i] != '\0') {
            return false;
        }
    }
    *out = value;
    return any;
}

QByteArray fieldText(const char* field, int length)
{
    return QByteArray(field, int(std::find(field, field + length, '\0') - field));
}

bool checksumMatches(const char* block)
{
    qint64 stored = 0;
    if (!parseOctal(block + 148, 8, &stored)) {
        return false;
    }
    qint64 sum = 0;
    for (int i = 0; i < blockSize; ++i) {
        sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(block[i]);
    }
    return sum == stored;
}

// "seconds[.fraction]" without the rounding of a double.
std::optional<qint64> paxTime(const QByteArray& text)
{
    const qsizetype dot = text.indexOf('.');
    bool ok = false;
    const qint64 seconds = text.left(dot < 0 ? text.size() : dot).toLongLong(&ok);
    if (!ok || seconds < 0 || seconds > (qint64(1) << 33)) {
        return std::nullopt;
    }
    qint64 fraction = 0;
    if (dot >= 0) {
        fraction = text.mid(dot + 1, 9).leftJustified(9, '0').toLongLong(&ok);
        if (!ok) {
            return std::nullopt;
        }
    }
    return seconds * 1000000000 + fraction;
}

// "length key=value\n" records.
void applyPax(const QByteArray& records, TarReader::Entry* entry, qint64* size, bool* hasSize)
{
    qsizetype at = 0;
    while (at < records.size()) {
        const qsizetype space = records.indexOf(' ', at);
        if (space < 0) {
            return;
        }
        bool ok = false;
        const qsizetype length = records.mid(at, space - at).toLongLong(&ok);
        if (!ok || length <= space - at || at + length > records.size()) {
            return;
        }
        const QByteArray record = records.mid(space + 1, length - (space - at) - 2);
        const qsizetype equals = record.indexOf('=');
        if (equals > 0) {
            const QByteArray key = record.left(equals);
            const QByteArray value = record.mid(equals + 1);
            if (key == "path") {
                entry->name = value;
            } else if (key == "linkpath") {
                entry->linkName = value;
            } else if (key == "size") {
                *size = value.toLongLong(hasSize);
            } else if (key == "mtime") {
                entry->modifiedNs = paxTime(value).value_or(entry->modifiedNs);
            }
        }
        at += length;
    }
}

} // namespace

TarReader::TarReader(QIODevice* input, int waitMs)
    : m_input(input)
    , m_waitMs(waitMs)
{
}

TarReader::Next TarReader::next(Entry* entry)
{
    if (!skip(m_remaining)) {
        return Next::error;
    }
    m_remaining = 0;
    m_dataLeft = 0;

    Entry pending;
    qint64 paxSize = 0;
    bool hasPaxSize = false;
    bool hasLongName = false;
    bool hasLongLink = false;
    char block[blockSize];
    for (int extensions = 0;; ++extensions) {
        if (extensions > maxExtensionsPerEntry) {
            m_error = QStringLiteral("слишком много расширенных заголовков подряд");
            return Next::error;
        }
        if (!readBlock(block)) {
            return Next::error;
        }
        if (std::all_of(block, block + blockSize, [](char c) { return c == '\0'; })) {
            return Next::end;
        }
        if (!checksumMatches(block)) {
            m_error = QStringLiteral("повреждённый заголовок архива");
            return Next::error;
        }
        qint64 size = 0;
        qint64 mode = 0;
        if (!parseOctal(block + 124, 12, &size) || !parseOctal(block + 100, 8, &mode)) {
            m_error = QStringLiteral("повреждённый заголовок архива");
            return Next::error;
        }
        const char type = block[156];
        if (type == 'x' || type == 'g' || type == 'L' || type == 'K') {
            QByteArray data;
            if (!readExtension(size, &data)) {
                return Next::error;
            }
            if (type == 'x') {
                applyPax(data, &pending, &paxSize, &hasPaxSize);
                hasLongName = hasLongName || !pending.name.isEmpty();
                hasLongLink = hasLongLink || !pending.linkName.isEmpty();
            } else if (type == 'L') {
                pending.name = fieldText(data.constData(), int(data.size()));
                hasLongName = true;
            } else if (type == 'K') {
                pending.linkName = fieldText(data.constData(), int(data.size()));
                hasLongLink = true;
            }
            continue;
        }
        qint64 modified = 0;
        parseOctal(block + 136, 12, &modified);
        Entry found;
        found.modifiedNs = pending.modifiedNs != 0 ? pending.modifiedNs : modified * 1000000000;
        found.type = type == '\0' ? '0' : type;
        found.mode = unsigned(mode);
        found.size = hasPaxSize ? paxSize : size;
        if (found.size < 0) {
            m_error = QStringLiteral("повреждённый заголовок архива");
            return Next::error;
        }
        if (hasLongName) {
            found.name = pending.name;
        } else {
            const QByteArray name = fieldText(block, 100);
            const QByteArray prefix = std::string_view(block + 257, 6) == std::string_view("ustar\0", 6)
                ? fieldText(block + 345, 155)
                : QByteArray();
            found.name = prefix.isEmpty() ? name : prefix + '/' + name;
        }
        found.linkName = hasLongLink ? pending.linkName : fieldText(block + 157, 100);
        // Links and folders carry no data, whatever the size field says.
        const bool hasData = found.type == '0' || found.type == '7';
        m_dataLeft = hasData ? found.size : 0;
        m_remaining = hasData ? padded(found.size) : 0;
        *entry = found;
        return Next::entry;
    }
}

bool TarReader::readData(const std::function<bool(QByteArrayView)>& sink)
{
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    while (m_dataLeft > 0) {
        const qint64 chunk = std::min<qint64>(m_dataLeft, buffer.size());
        if (!readExactly(buffer.data(), chunk)) {
            return false;
        }
        m_dataLeft -= chunk;
        m_remaining -= chunk;
        if (!sink(QByteArrayView(buffer.constData(), chunk))) {
            return false;
        }
    }
    return true;
}

bool TarReader::readExtension(qint64 size, QByteArray* out)
{
    if (size > maxExtensionBytes) {
        m_error = QStringLiteral("слишком длинный расширенный заголовок архива");
        return false;
    }
    out->resize(size);
    return readExactly(out->data(), size) && skip(padded(size) - size);
}

bool TarReader::readBlock(char* block)
{
    return readExactly(block, blockSize);
}

bool TarReader::skip(qint64 length)
{
    char buffer[4096];
    while (length > 0) {
        const qint64 chunk = std::min<qint64>(length, sizeof buffer);
        if (!readExactly(buffer, chunk)) {
            return false;
        }
        length -= chunk;
    }
    return true;
}

bool TarReader::readExactly(char* buffer, qint64 length)
{
    qint64 done = 0;
    while (done < length) {
        if (m_input->bytesAvailable() <= 0 && !m_input->waitForReadyRead(m_waitMs) && m_input->bytesAvailable() <= 0) {
            m_error = QStringLiteral("архив обрывается");
            return false;
        }
        const qint64 n = m_input->read(buffer + done, length - done);
        if (n < 0) {
            m_error = QStringLiteral("архив не читается");
            return false;
        }
        done += n;
        m_consumed += n;
    }
    return true;
}
