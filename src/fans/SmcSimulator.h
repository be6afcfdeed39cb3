#pragma once

#include "PausingClock.h"
#include "platform/SmcTransport.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QMutex>
#include <QStringList>

#include <optional>

// An SMC in software: a table of keys with their types and values that
// answers key-information, read and write requests with the controller's own
// result codes. Profiles model the machines the fan code must handle:
//
// - "intel": two fans with fpe2 speeds and "F<i>Md", sp78 temperatures;
// - "m1-m4": two fans with float speeds and "F<i>Md"; mode writes only take
//   effect once "Ftst" is 1 and the firmware has let go of the fans, a
//   moment later (the mode key reads 3 while the firmware holds them);
// - "m5": one fan with float speeds and "F<i>md", no "Ftst";
// - "fanless": temperatures only, "FNum" is 0.
//
// A fan's current speed follows its target while it is in manual mode and
// its own idle speed otherwise. Safe to use from several threads.
class SmcSimulator : public SmcTransport
{
public:
    // How long the "m1-m4" firmware takes to give the fans up after the unlock.
    static constexpr int unlockDelayMs = 1500;
    // The value a held mode key reads.
    static constexpr quint8 modeHeldBySystem = 3;

    // Nothing for an unknown profile name.
    static std::shared_ptr<SmcSimulator> create(const QString& profile, PausingClockPtr clock);
    static QStringList profileNames();

    const QString& profile() const { return m_profile; }
    // The "hw.model" of the simulated machine.
    const QString& modelIdentifier() const { return m_model; }

    quint32 findService(const QByteArray& className) override;
    void releaseService(quint32 service) override;
    quint32 openConnection(quint32 service, quint32 type) override;
    quint32 callStructMethod(quint32 connection, quint32 selector, const Buffer& input, Buffer* output) override;
    void closeConnection(quint32 connection) override;

    // For tests and demonstrations.
    // Every write is refused as not privileged, as for an unprivileged process.
    void setWritesRefused(bool refused);
    // Sets an existing temperature key, encoded in its own type.
    void setTemperature(const QByteArray& key, double celsius);
    void removeKey(const QByteArray& key);
    // Adds or replaces a key with a raw value.
    void defineKey(const QByteArray& key, const QByteArray& type, const QByteArray& value, bool writable);
    std::optional<QByteArray> value(const QByteArray& key) const;
    // Decoded speeds of fan i.
    int currentRPM(int fan) const;
    std::optional<int> targetRPM(int fan) const;
    // First byte of the fan's mode key.
    int fanMode(int fan) const;
    int writeCount(const QByteArray& key) const;
    int totalWrites() const;
    int openConnectionCount() const;

private:
    struct Key
    {
        QByteArray type;
        QByteArray value;
        bool writable = false;
    };
    struct Fan
    {
        QByteArray modeKey;
        QByteArray targetKey;
        QByteArray actualKey;
        QByteArray type;
        int idleRPM = 0;
    };

    SmcSimulator(QString profile, QString model, PausingClockPtr clock);

    void addKey(const QByteArray& key, const QByteArray& type, const QByteArray& value, bool writable = false);
    void addFan(int index, const QByteArray& type, const QByteArray& modeSuffix, int minimum, int maximum, int idle,
                const QByteArray& name, quint8 initialMode);
    void addTemperature(const QByteArray& key, const QByteArray& type, double celsius);

    quint8 answer(quint8 command, const QByteArray& key, quint32 dataSize, const QByteArray& data,
                  quint32* outSize, quint32* outType, QByteArray* outValue);
    quint8 write(const QByteArray& key, Key& entry, const QByteArray& data);
    // Lets the firmware give up held fans once the unlock delay has passed,
    // and moves every fan's current speed to where its mode puts it.
    void settle();
    static QByteArray encodeSpeed(int rpm, const QByteArray& type);
    static int decodeSpeed(const QByteArray& bytes, const QByteArray& type);
    static QByteArray encodeTemperature(double celsius, const QByteArray& type);

    const QString m_profile;
    const QString m_model;
    const PausingClockPtr m_clock;
    bool m_needsUnlock = false;

    mutable QMutex m_mutex;
    QMap<QByteArray, Key> m_keys;
    QList<Fan> m_fans;
    std::optional<QDateTime> m_unlockedAt;
    bool m_writesRefused = false;
    quint32 m_nextConnection = 1;
    QList<quint32> m_connections;
    QHash<QByteArray, int> m_writes;
};
