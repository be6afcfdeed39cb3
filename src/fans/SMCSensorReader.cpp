#include "SMCSensorReader.h"

#include <QSet>

#include <algorithm>

namespace {

bool isControl(char c)
{
    return quint8(c) < 0x20 || c == 0x7F;
}

// The fan's name as the firmware stores it: ASCII, padded with zero bytes.
std::optional<QString> asciiName(const QByteArray& bytes)
{
    for (char c : bytes) {
        if (quint8(c) > 0x7F) {
            return std::nullopt;
        }
    }
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && isControl(bytes.at(begin))) {
        ++begin;
    }
    while (end > begin && isControl(bytes.at(end - 1))) {
        --end;
    }
    return QString::fromLatin1(bytes.mid(begin, end - begin));
}

} // namespace

const QList<SMCSensorReader::Sensor>& SMCSensorReader::sensorTable()
{
    static const QList<Sensor> table = {
        {"Tp09", QStringLiteral("CPU (пакет)")}, {"Te05", QStringLiteral("CPU E-core")},
        {"Tf09", QStringLiteral("CPU P-core")},  {"TC0P", QStringLiteral("CPU")},
        {"TC0D", QStringLiteral("CPU (ядро)")},  {"TC0E", QStringLiteral("CPU core E")},
        {"TC0F", QStringLiteral("CPU core F")},  {"TG0P", QStringLiteral("GPU")},
        {"TG0D", QStringLiteral("GPU (ядро)")},  {"Tm0P", QStringLiteral("Память")},
        {"Ta0p", QStringLiteral("Окружение")},   {"TB1T", QStringLiteral("Батарея")},
        {"TW0P", QStringLiteral("Корпус")},      {"Th0H", QStringLiteral("Heat pipe")},
    };
    return table;
}

FanStatusList SMCSensorReader::readFans(AppleSMC& smc)
{
    FanStatusList fans;
    const std::optional<QByteArray> countBytes = smc.readKey(QStringLiteral("FNum"));
    const std::optional<int> count = countBytes ? AppleSMC::decodeUInt8(*countBytes) : std::nullopt;
    if (!count || *count < 1) {
        return fans;
    }
    for (int i = 0; i < *count; ++i) {
        const QString prefix = QStringLiteral("F%1").arg(i);
        // Every speed key of a fan shares the type of its current speed.
        const std::optional<AppleSMC::KeyInfo> actualInfo = smc.keyInfo(prefix + QStringLiteral("Ac"));
        const QString type = actualInfo ? actualInfo->dataType : QString();
        const auto speed = [&](const char* suffix) -> std::optional<int> {
            const std::optional<QByteArray> bytes = smc.readKey(prefix + QLatin1String(suffix));
            return bytes ? AppleSMC::decodeRPM(*bytes, type) : std::nullopt;
        };

        FanStatus fan;
        fan.id = i;
        const std::optional<QByteArray> idBytes = smc.readKey(prefix + QStringLiteral("ID"));
        const std::optional<QString> name = idBytes ? asciiName(*idBytes) : std::nullopt;
        fan.name = name ? *name : QStringLiteral("Вентилятор %1").arg(i + 1);
        fan.currentRPM = speed("Ac").value_or(0);
        fan.minimumRPM = speed("Mn").value_or(0);
        fan.maximumRPM = speed("Mx").value_or(0);
        fan.targetRPM = speed("Tg");
        fans.append(fan);
    }
    return fans;
}

TemperatureReadingList SMCSensorReader::readTemperatures(AppleSMC& smc)
{
    TemperatureReadingList readings;
    QSet<QString> taken;
    for (const Sensor& sensor : sensorTable()) {
        const QString key = QLatin1String(sensor.key);
        if (taken.contains(key)) {
            continue;
        }
        const std::optional<AppleSMC::KeyInfo> info = smc.keyInfo(key);
        if (!info) {
            continue;
        }
        const std::optional<QByteArray> bytes = smc.readKey(key);
        if (!bytes) {
            continue;
        }
        const std::optional<double> celsius = AppleSMC::decodeTemperature(*bytes, info->dataType);
        if (!celsius) {
            continue;
        }
        taken.insert(key);
        readings.append({key, sensor.label, *celsius});
    }
    std::stable_sort(readings.begin(), readings.end(),
                     [](const TemperatureReading& a, const TemperatureReading& b) { return a.celsius > b.celsius; });
    return readings;
}
