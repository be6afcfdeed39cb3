#pragma once

#include "platform/SmcTransport.h"

#include <QByteArray>

#include <array>

// The record exchanged with the SMC user client: 80 bytes, little-endian,
// the same layout for the request and the answer. It is written and read
// field by field at fixed offsets, never copied as a C struct, so that the
// compiler's padding rules cannot shift a field.
struct SMCParamStruct
{
    static constexpr int size = 80;
    static constexpr int bytesCapacity = 32;

    // Offsets of the fields the client uses; everything else stays zero.
    static constexpr int keyOffset = 0;
    static constexpr int dataSizeOffset = 28;
    static constexpr int dataTypeOffset = 32;
    static constexpr int dataAttributesOffset = 36;
    static constexpr int resultOffset = 40;
    static constexpr int statusOffset = 41;
    static constexpr int commandOffset = 42;
    static constexpr int data32Offset = 44;
    static constexpr int bytesOffset = 48;

    // Commands and the selector of the structure method.
    static constexpr quint8 commandReadKeyInfo = 9;
    static constexpr quint8 commandReadBytes = 5;
    static constexpr quint8 commandWriteBytes = 6;
    static constexpr quint32 methodSelector = 2;

    // Result codes of the controller.
    static constexpr quint8 resultSuccess = 0x00;
    static constexpr quint8 resultError = 0x01;
    static constexpr quint8 resultBadCommand = 0x82;
    static constexpr quint8 resultKeyNotFound = 0x84;
    static constexpr quint8 resultKeyNotReadable = 0x85;
    static constexpr quint8 resultKeyNotWritable = 0x86;
    static constexpr quint8 resultKeySizeMismatch = 0x87;

    quint32 key = 0;
    quint32 dataSize = 0;
    quint32 dataType = 0;
    quint8 dataAttributes = 0;
    quint8 result = 0;
    quint8 status = 0;
    quint8 command = 0;
    quint32 data32 = 0;
    std::array<quint8, bytesCapacity> bytes{};

    SmcTransport::Buffer serialize() const;
    static SMCParamStruct parse(const SmcTransport::Buffer& buffer);

    // The value bytes as a byte array of the given length (at most 32).
    QByteArray value(quint32 length) const;
    // Copies the first 32 bytes of data, the rest stays zero.
    void setValue(const QByteArray& data);

    // Four ASCII characters packed most significant first ("FNum" →
    // 0x464E756D). Only for the fixed key and type names of the transports.
    static constexpr quint32 fourCharCode(const char (&text)[5])
    {
        return (quint32(quint8(text[0])) << 24) | (quint32(quint8(text[1])) << 16) | (quint32(quint8(text[2])) << 8)
            | quint32(quint8(text[3]));
    }
    // The four bytes of a code, most significant first, as Latin-1 text.
    static QByteArray codeBytes(quint32 code);
};
