#include "SMCParamStruct.h"

#include <QtEndian>

SmcTransport::Buffer SMCParamStruct::serialize() const
{
    SmcTransport::Buffer buffer{};
    qToLittleEndian<quint32>(key, buffer.data() + keyOffset);
    qToLittleEndian<quint32>(dataSize, buffer.data() + dataSizeOffset);
    qToLittleEndian<quint32>(dataType, buffer.data() + dataTypeOffset);
    buffer[dataAttributesOffset] = dataAttributes;
    buffer[resultOffset] = result;
    buffer[statusOffset] = status;
    buffer[commandOffset] = command;
    qToLittleEndian<quint32>(data32, buffer.data() + data32Offset);
    std::copy(bytes.begin(), bytes.end(), buffer.begin() + bytesOffset);
    return buffer;
}

SMCParamStruct SMCParamStruct::parse(const SmcTransport::Buffer& buffer)
{
    SMCParamStruct record;
    record.key = qFromLittleEndian<quint32>(buffer.data() + keyOffset);
    record.dataSize = qFromLittleEndian<quint32>(buffer.data() + dataSizeOffset);
    record.dataType = qFromLittleEndian<quint32>(buffer.data() + dataTypeOffset);
    record.dataAttributes = buffer[dataAttributesOffset];
    record.result = buffer[resultOffset];
    record.status = buffer[statusOffset];
    record.command = buffer[commandOffset];
    record.data32 = qFromLittleEndian<quint32>(buffer.data() + data32Offset);
    std::copy(buffer.begin() + bytesOffset, buffer.begin() + bytesOffset + bytesCapacity, record.bytes.begin());
    return record;
}

QByteArray SMCParamStruct::value(quint32 length) const
{
    const int n = int(qMin<quint32>(length, bytesCapacity));
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), n);
}

void SMCParamStruct::setValue(const QByteArray& data)
{
    bytes.fill(0);
    const qsizetype n = qMin<qsizetype>(data.size(), bytesCapacity);
    std::copy(data.constBegin(), data.constBegin() + n, bytes.begin());
}

QByteArray SMCParamStruct::codeBytes(quint32 code)
{
    QByteArray text(4, '\0');
    text[0] = char(code >> 24);
    text[1] = char(code >> 16);
    text[2] = char(code >> 8);
    text[3] = char(code);
    return text;
}
