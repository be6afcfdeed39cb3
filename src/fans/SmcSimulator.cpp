#include "SmcSimulator.h"

#include "SMCParamStruct.h"

#include <QtEndian>

#include <cmath>

namespace {

constexpr quint32 serviceHandle = 0x5AC;

QByteArray name16(const QByteArray& text)
{
    QByteArray bytes = text.left(16);
    bytes.append(QByteArray(16 - bytes.size(), '\0'));
    return bytes;
}

QByteArray byte(quint8 value)
{
    return QByteArray(1, char(value));
}

} // namespace

std::shared_ptr<SmcSimulator> SmcSimulator::create(const QString& profile, PausingClockPtr clock)
{
    std::shared_ptr<SmcSimulator> sim;
    if (profile == QLatin1String("intel")) {
        sim.reset(new SmcSimulator(profile, QStringLiteral("MacBookPro16,1"), std::move(clock)));
        sim->addKey("FNum", "ui8 ", byte(2));
        sim->addFan(0, "fpe2", "Md", 1200, 5800, 1800, "Left fan", 0);
        sim->addFan(1, "fpe2", "Md", 1200, 6000, 1750, "Right fan", 0);
        sim->addTemperature("TC0P", "sp78", 52.5);
        sim->addTemperature("TC0D", "sp78", 55.0);
        sim->addTemperature("TG0P", "sp78", 50.25);
        sim->addTemperature("Tm0P", "sp78", 45.0);
        sim->addTemperature("TB1T", "sp78", 31.0);
        sim->addTemperature("Th0H", "sp78", 48.0);
    } else if (profile == QLatin1String("m1-m4")) {
        sim.reset(new SmcSimulator(profile, QStringLiteral("Mac15,6"), std::move(clock)));
        sim->m_needsUnlock = true;
        sim->addKey("FNum", "ui8 ", byte(2));
        sim->addKey("Ftst", "ui8 ", byte(0), true);
        sim->addFan(0, "flt ", "Md", 1200, 5779, 1300, {}, modeHeldBySystem);
        sim->addFan(1, "flt ", "Md", 1200, 6241, 1350, {}, modeHeldBySystem);
        sim->addTemperature("Tp09", "flt ", 48.5);
        sim->addTemperature("Te05", "flt ", 44.0);
        sim->addTemperature("Tf09", "flt ", 52.0);
        sim->addTemperature("TG0P", "flt ", 41.0);
        sim->addTemperature("TB1T", "flt ", 30.5);
    } else if (profile == QLatin1String("m5")) {
        sim.reset(new SmcSimulator(profile, QStringLiteral("Mac16,1"), std::move(clock)));
        sim->addKey("FNum", "ui8 ", byte(1));
        sim->addFan(0, "flt ", "md", 1000, 4900, 1100, "Main", 0);
        sim->addTemperature("Tp09", "flt ", 55.0);
        sim->addTemperature("Te05", "flt ", 50.0);
        sim->addTemperature("Tf09", "flt ", 58.0);
    } else if (profile == QLatin1String("fanless")) {
        sim.reset(new SmcSimulator(profile, QStringLiteral("MacBookAir10,1"), std::move(clock)));
        sim->addKey("FNum", "ui8 ", byte(0));
        sim->addTemperature("Tp09", "flt ", 40.0);
        sim->addTemperature("Te05", "flt ", 38.5);
        sim->addTemperature("TB1T", "flt ", 29.0);
    }
    return sim;
}

QStringList SmcSimulator::profileNames()
{
    return {QStringLiteral("intel"), QStringLiteral("m1-m4"), QStringLiteral("m5"), QStringLiteral("fanless")};
}

SmcSimulator::SmcSimulator(QString profile, QString model, PausingClockPtr clock)
    : m_profile(std::move(profile))
    , m_model(std::move(model))
    , m_clock(std::move(clock))
{
}

void SmcSimulator::addKey(const QByteArray& key, const QByteArray& type, const QByteArray& value, bool writable)
{
    m_keys.insert(key, {type, value, writable});
}

void SmcSimulator::addFan(int index, const QByteArray& type, const QByteArray& modeSuffix, int minimum, int maximum,
                          int idle, const QByteArray& name, quint8 initialMode)
{
    const QByteArray prefix = 'F' + QByteArray::number(index);
    Fan fan{prefix + modeSuffix, prefix + "Tg", prefix + "Ac", type, idle};
    addKey(fan.actualKey, type, encodeSpeed(idle, type));
    addKey(prefix + "Mn", type, encodeSpeed(minimum, type));
    addKey(prefix + "Mx", type, encodeSpeed(maximum, type));
    addKey(fan.targetKey, type, encodeSpeed(idle, type), true);
    addKey(fan.modeKey, "ui8 ", byte(initialMode), true);
    if (!name.isEmpty()) {
        addKey(prefix + "ID", "ch8*", name16(name));
    }
    m_fans.append(fan);
}

void SmcSimulator::addTemperature(const QByteArray& key, const QByteArray& type, double celsius)
{
    addKey(key, type, encodeTemperature(celsius, type));
}

QByteArray SmcSimulator::encodeSpeed(int rpm, const QByteArray& type)
{
    if (type == "fpe2") {
        QByteArray bytes(2, '\0');
        qToBigEndian<quint16>(quint16(qBound(0, rpm, 0x3FFF) * 4), bytes.data());
        return bytes;
    }
    QByteArray bytes(4, '\0');
    qToLittleEndian<float>(float(rpm), bytes.data());
    return bytes;
}

int SmcSimulator::decodeSpeed(const QByteArray& bytes, const QByteArray& type)
{
    if (type == "fpe2") {
        return bytes.size() >= 2 ? qFromBigEndian<quint16>(bytes.constData()) / 4 : 0;
    }
    if (bytes.size() < 4) {
        return 0;
    }
    const float value = qFromLittleEndian<float>(bytes.constData());
    return std::isfinite(value) ? int(std::lround(qBound(-1.0e6f, value, 1.0e6f))) : 0;
}

QByteArray SmcSimulator::encodeTemperature(double celsius, const QByteArray& type)
{
    if (type == "sp78") {
        QByteArray bytes(2, '\0');
        qToBigEndian<qint16>(qint16(std::lround(qBound(-128.0, celsius, 127.99) * 256.0)), bytes.data());
        return bytes;
    }
    QByteArray bytes(4, '\0');
    qToLittleEndian<float>(float(celsius), bytes.data());
    return bytes;
}

quint32 SmcSimulator::findService(const QByteArray& className)
{
    return className == "AppleSMC" ? serviceHandle : 0;
}

void SmcSimulator::releaseService(quint32) {}

quint32 SmcSimulator::openConnection(quint32 service, quint32 type)
{
    if (service != serviceHandle || type != 0) {
        return 0;
    }
    QMutexLocker lock(&m_mutex);
    const quint32 connection = m_nextConnection++;
    m_connections.append(connection);
    return connection;
}

void SmcSimulator::closeConnection(quint32 connection)
{
    QMutexLocker lock(&m_mutex);
    m_connections.removeOne(connection);
}

quint32 SmcSimulator::callStructMethod(quint32 connection, quint32 selector, const Buffer& input, Buffer* output)
{
    QMutexLocker lock(&m_mutex);
    if (!m_connections.contains(connection)) {
        return statusNotOpen;
    }
    if (selector != SMCParamStruct::methodSelector || !output) {
        return statusBadArgument;
    }
    const SMCParamStruct request = SMCParamStruct::parse(input);
    if (request.command == SMCParamStruct::commandWriteBytes && m_writesRefused) {
        return statusNotPrivileged;
    }
    SMCParamStruct reply;
    reply.key = request.key;
    QByteArray value;
    reply.result = answer(request.command, SMCParamStruct::codeBytes(request.key), request.dataSize,
                          request.value(request.dataSize), &reply.dataSize, &reply.dataType, &value);
    reply.setValue(value);
    *output = reply.serialize();
    return statusSuccess;
}

quint8 SmcSimulator::answer(quint8 command, const QByteArray& key, quint32 dataSize, const QByteArray& data,
                            quint32* outSize, quint32* outType, QByteArray* outValue)
{
    settle();
    const auto it = m_keys.find(key);
    if (it == m_keys.end()) {
        return SMCParamStruct::resultKeyNotFound;
    }
    switch (command) {
    case SMCParamStruct::commandReadKeyInfo:
        *outSize = quint32(it->value.size());
        *outType = qFromBigEndian<quint32>(it->type.constData());
        return SMCParamStruct::resultSuccess;
    case SMCParamStruct::commandReadBytes:
        if (dataSize != quint32(it->value.size())) {
            return SMCParamStruct::resultKeySizeMismatch;
        }
        *outSize = dataSize;
        *outValue = it->value;
        return SMCParamStruct::resultSuccess;
    case SMCParamStruct::commandWriteBytes:
        if (dataSize != quint32(it->value.size())) {
            return SMCParamStruct::resultKeySizeMismatch;
        }
        if (!it->writable) {
            return SMCParamStruct::resultKeyNotWritable;
        }
        return write(key, *it, data);
    default:
        return SMCParamStruct::resultBadCommand;
    }
}

quint8 SmcSimulator::write(const QByteArray& key, Key& entry, const QByteArray& data)
{
    ++m_writes[key];
    if (key == "Ftst") {
        entry.value = data;
        if (data.at(0) != 0) {
            m_unlockedAt = m_clock->now();
        } else {
            // The firmware takes the fans back.
            m_unlockedAt.reset();
            for (const Fan& fan : m_fans) {
                if (const auto mode = m_keys.find(fan.modeKey); mode != m_keys.end()) {
                    mode->value = byte(modeHeldBySystem);
                }
            }
        }
        settle();
        return SMCParamStruct::resultSuccess;
    }
    for (const Fan& fan : m_fans) {
        // A held fan takes the write without complaint and ignores it, as the
        // real firmware does.
        if (key == fan.modeKey && quint8(entry.value.at(0)) == modeHeldBySystem) {
            return SMCParamStruct::resultSuccess;
        }
    }
    entry.value = data;
    settle();
    return SMCParamStruct::resultSuccess;
}

void SmcSimulator::settle()
{
    const bool released = m_unlockedAt && m_unlockedAt->msecsTo(m_clock->now()) >= unlockDelayMs;
    for (const Fan& fan : m_fans) {
        // Tests may have removed any of the fan's keys.
        const auto mode = m_keys.find(fan.modeKey);
        const auto actual = m_keys.find(fan.actualKey);
        if (mode == m_keys.end() || mode->value.isEmpty() || actual == m_keys.end()) {
            continue;
        }
        if (released && quint8(mode->value.at(0)) == modeHeldBySystem) {
            mode->value = byte(0);
        }
        const bool manual = mode->value.at(0) == 1;
        const int rpm = manual ? decodeSpeed(m_keys.value(fan.targetKey).value, fan.type) : fan.idleRPM;
        actual->value = encodeSpeed(rpm, fan.type);
    }
}

void SmcSimulator::setWritesRefused(bool refused)
{
    QMutexLocker lock(&m_mutex);
    m_writesRefused = refused;
}

void SmcSimulator::setTemperature(const QByteArray& key, double celsius)
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_keys.find(key);
    if (it != m_keys.end()) {
        it->value = encodeTemperature(celsius, it->type);
    }
}

void SmcSimulator::removeKey(const QByteArray& key)
{
    QMutexLocker lock(&m_mutex);
    m_keys.remove(key);
}

void SmcSimulator::defineKey(const QByteArray& key, const QByteArray& type, const QByteArray& value, bool writable)
{
    QMutexLocker lock(&m_mutex);
    addKey(key, type, value, writable);
}

std::optional<QByteArray> SmcSimulator::value(const QByteArray& key) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_keys.constFind(key);
    if (it == m_keys.constEnd()) {
        return std::nullopt;
    }
    return it->value;
}

int SmcSimulator::currentRPM(int fan) const
{
    QMutexLocker lock(&m_mutex);
    if (fan < 0 || fan >= m_fans.size()) {
        return 0;
    }
    return decodeSpeed(m_keys.value(m_fans.at(fan).actualKey).value, m_fans.at(fan).type);
}

std::optional<int> SmcSimulator::targetRPM(int fan) const
{
    QMutexLocker lock(&m_mutex);
    if (fan < 0 || fan >= m_fans.size() || !m_keys.contains(m_fans.at(fan).targetKey)) {
        return std::nullopt;
    }
    return decodeSpeed(m_keys.value(m_fans.at(fan).targetKey).value, m_fans.at(fan).type);
}

int SmcSimulator::fanMode(int fan) const
{
    QMutexLocker lock(&m_mutex);
    if (fan < 0 || fan >= m_fans.size()) {
        return -1;
    }
    const QByteArray mode = m_keys.value(m_fans.at(fan).modeKey).value;
    return mode.isEmpty() ? -1 : quint8(mode.at(0));
}

int SmcSimulator::writeCount(const QByteArray& key) const
{
    QMutexLocker lock(&m_mutex);
    return m_writes.value(key);
}

int SmcSimulator::totalWrites() const
{
    QMutexLocker lock(&m_mutex);
    int total = 0;
    for (int count : m_writes) {
        total += count;
    }
    return total;
}

int SmcSimulator::openConnectionCount() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_connections.size());
}
