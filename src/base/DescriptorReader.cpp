#include "DescriptorReader.h"

DescriptorReader::DescriptorReader(int fd)
{
    m_file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle);
}

qint64 DescriptorReader::read(char* buffer, qint64 capacity)
{
    if (!m_file.isOpen()) {
        return -1;
    }
    return m_file.read(buffer, capacity);
}
