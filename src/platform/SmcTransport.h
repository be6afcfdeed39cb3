#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <array>
#include <memory>

// The system's SMC user client, reduced to the four calls the fan code makes:
// find the controller's service by class name, open a user-client connection,
// exchange one 80-byte request record for an 80-byte answer, and close.
// Status values follow the kernel's conventions (0 is success).
//
// Implementations must be safe to call from several threads at once: the
// poll and a boost may each hold a connection of their own.
class SmcTransport
{
public:
    using Buffer = std::array<quint8, 80>;

    static constexpr quint32 statusSuccess = 0;
    static constexpr quint32 statusNotPrivileged = 0xE00002C1;
    static constexpr quint32 statusBadArgument = 0xE00002C2;
    static constexpr quint32 statusUnsupported = 0xE00002C7;
    static constexpr quint32 statusNotOpen = 0xE00002CD;

    virtual ~SmcTransport() = default;

    // The first service whose class is className; 0 when there is none.
    virtual quint32 findService(const QByteArray& className) = 0;
    virtual void releaseService(quint32 service) = 0;
    // A connection of the given type to the service; 0 when it cannot be opened.
    virtual quint32 openConnection(quint32 service, quint32 type) = 0;
    // One structure-method call. output is written only on success.
    virtual quint32 callStructMethod(quint32 connection, quint32 selector, const Buffer& input, Buffer* output) = 0;
    virtual void closeConnection(quint32 connection) = 0;
};

using SmcTransportPtr = std::shared_ptr<SmcTransport>;
