#pragma once

#include "PausingClock.h"
#include "SMCParamStruct.h"
#include "platform/SmcTransport.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The thin client of the System Management Controller: one connection to
// the "AppleSMC" service, key information, raw reads and writes, the value
// conversions, and the two procedures that put a fan into manual mode.
//
// Everything blocks; the manual-mode procedures pause for up to several
// seconds, so callers run them off the main thread. An instance is used by
// one thread at a time. No operation throws: every failure is an empty
// optional or false.
class AppleSMC
{
public:
    struct KeyInfo
    {
        quint32 dataSize = 0;
        QString dataType;
    };

    AppleSMC(SmcTransportPtr transport, PausingClockPtr clock);
    ~AppleSMC();
    AppleSMC(const AppleSMC&) = delete;
    AppleSMC& operator=(const AppleSMC&) = delete;

    // Closes a connection that is open, then opens a new one to the first
    // "AppleSMC" service. False when there is none or it cannot be opened.
    bool open();
    void close();
    quint32 connection() const { return m_connection; }

    // Keys are four characters; any other length is refused before a call.
    std::optional<KeyInfo> keyInfo(const QString& key);
    std::optional<QByteArray> readKey(const QString& key);
    // Sends as many bytes as the key information says, whatever data holds.
    bool writeKey(const QString& key, const QByteArray& data);
    bool writeUInt8(const QString& key, quint8 value);

    // Whether this process may write the controller. The probe really
    // writes: fan 0's target becomes 0.
    bool canWrite();

    // "F<i>md" before "F<i>Md"; "F<i>tg" before "F<i>Tg".
    std::optional<QString> fanModeKey(int fanIndex);
    std::optional<QString> fanTargetKey(int fanIndex);

    // Writes 1 to the mode key and reads it back, up to attempts times with
    // 100 ms between tries.
    bool tryEnterManualDirect(const QString& modeKey, int attempts);
    // For machines whose firmware holds the fans until "Ftst" is set: sets
    // it, waits (up to 10 s) for the fan to be given up, then enters manual
    // mode.
    bool unlockFanControl(int fanIndex);

    // Conversions of raw key bytes. A float type is one whose text begins
    // with "flt" or "flo".
    static bool isFloatType(const QString& type);
    static std::optional<double> decodeTemperature(const QByteArray& bytes, const QString& type);
    static std::optional<int> decodeRPM(const QByteArray& bytes, const QString& type);
    static std::optional<int> decodeUInt8(const QByteArray& bytes);
    // Nothing when the speed cannot be represented in the type (above 255
    // for a one-byte type): writing a truncated speed would be worse than
    // not writing.
    static std::optional<QByteArray> encodeRPM(int rpm, const QString& type);

    // The wire code of a key: its four characters packed most significant
    // first. Nothing unless the text is exactly four characters, each of
    // which fits a byte.
    static std::optional<quint32> keyCode(const QString& key);
    // A type code as text: its bytes most significant first, read as Mac OS
    // Roman; "????" when they cannot be decoded.
    static QString typeText(quint32 code);

private:
    // One request; the answer only when the call and the controller's result
    // both report success.
    std::optional<SMCParamStruct> call(const SMCParamStruct& request);
    std::optional<QString> firstExistingKey(const QString& first, const QString& second);

    SmcTransportPtr m_transport;
    PausingClockPtr m_clock;
    quint32 m_connection = 0;
};
