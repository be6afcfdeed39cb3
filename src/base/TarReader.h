#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

class QIODevice;

// Reads a tar stream (ustar, with the pax and GNU long-name extensions) one
// member at a time, from any device, waiting for data as a pipe needs. It
// only reports what the archive says; deciding what is acceptable is the
// caller's business. Extended headers are capped, so that a hostile archive
// cannot make it hold much in memory.
class TarReader
{
public:
    struct Entry
    {
        QByteArray name;
        // The ustar type flag: '0' file, '1' hard link, '2' symbolic link,
        // '3' and '4' devices, '5' folder, '6' FIFO, others as found.
        char type = '0';
        unsigned mode = 0;
        qint64 size = 0;
        QByteArray linkName;
        // Nanoseconds since the Unix epoch.
        qint64 modifiedNs = 0;
    };

    enum class Next { entry, end, error };

    // waitMs: how long to wait for more input before giving up.
    explicit TarReader(QIODevice* input, int waitMs = 30000);

    // The next member. Data of the previous member that was not read is
    // skipped first.
    Next next(Entry* entry);
    // Hands the current member's data to sink in pieces; false on a read
    // error or when sink returns false.
    bool readData(const std::function<bool(QByteArrayView)>& sink);
    // Bytes taken from the input so far.
    qint64 consumed() const { return m_consumed; }
    QString error() const { return m_error; }

private:
    bool readExactly(char* buffer, qint64 length);
    bool skip(qint64 length);
    bool readBlock(char* block);
    bool readExtension(qint64 size, QByteArray* out);

    QIODevice* m_input;
    int m_waitMs;
    qint64 m_remaining = 0; // data (with padding) of the current member not yet read
    qint64 m_dataLeft = 0;
    qint64 m_consumed = 0;
    QString m_error;
};
