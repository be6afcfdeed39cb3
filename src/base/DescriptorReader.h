#pragma once

#include <QFile>

// Reads an open file descriptor straight into the caller's buffer, without
// Qt's buffering and without taking the descriptor over: whoever opened it
// through the FileSystem closes it there.
class DescriptorReader
{
public:
    explicit DescriptorReader(int fd);

    bool isOpen() const { return m_file.isOpen(); }
    // Bytes read, 0 at the end, or -1 on a failure.
    qint64 read(char* buffer, qint64 capacity);

private:
    QFile m_file;
};
