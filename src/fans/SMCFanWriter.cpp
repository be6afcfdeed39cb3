#include "SMCFanWriter.h"

#include "AppleSMC.h"

#include <cmath>

namespace {
constexpr int manualAttemptsAfterFailedUnlock = 15;
constexpr int manualAttemptsDirect = 20;
} // namespace

int SMCFanWriter::targetRPM(const FanStatus& fan, double percent)
{
    double fraction = 0.0;
    if (percent > 100.0) {
        fraction = 1.0;
    } else if (percent > 0.0) {
        fraction = percent / 100.0;
    }
    return fan.minimumRPM + int(std::trunc(fraction * double(fan.maximumRPM - fan.minimumRPM)));
}

bool SMCFanWriter::setAllFansTarget(const SmcMachine& machine, SMCFanProfile::WriteStrategy strategy,
                                    const FanStatusList& fans, double percent)
{
    AppleSMC smc(machine.transport, machine.clock);
    if (!smc.open()) {
        return false;
    }
    bool written = false;
    for (const FanStatus& fan : fans) {
        if (fan.minimumRPM >= fan.maximumRPM) {
            continue;
        }
        const std::optional<QString> modeKey = smc.fanModeKey(fan.id);
        if (!modeKey) {
            continue;
        }
        bool manual = false;
        if (strategy == SMCFanProfile::WriteStrategy::ftstUnlock) {
            manual = smc.unlockFanControl(fan.id) || smc.tryEnterManualDirect(*modeKey, manualAttemptsAfterFailedUnlock);
        } else {
            manual = smc.tryEnterManualDirect(*modeKey, manualAttemptsDirect);
        }
        if (!manual) {
            continue;
        }
        const std::optional<QString> targetKey = smc.fanTargetKey(fan.id);
        if (!targetKey) {
            continue;
        }
        const std::optional<AppleSMC::KeyInfo> info = smc.keyInfo(*targetKey);
        if (!info) {
            continue;
        }
        // A speed the key's type cannot hold is not written at all.
        const std::optional<QByteArray> bytes = AppleSMC::encodeRPM(targetRPM(fan, percent), info->dataType);
        if (bytes && smc.writeKey(*targetKey, *bytes)) {
            written = true;
        }
    }
    smc.close();
    return written;
}

bool SMCFanWriter::releaseFans(const SmcMachine& machine, SMCFanProfile::WriteStrategy strategy,
                               const FanStatusList& fans)
{
    AppleSMC smc(machine.transport, machine.clock);
    if (!smc.open()) {
        return false;
    }
    bool released = false;
    for (const FanStatus& fan : fans) {
        const std::optional<QString> modeKey = smc.fanModeKey(fan.id);
        const bool modeWritten = modeKey && smc.writeUInt8(*modeKey, 0);
        bool targetWritten = false;
        if (const std::optional<QString> targetKey = smc.fanTargetKey(fan.id)) {
            if (const std::optional<AppleSMC::KeyInfo> info = smc.keyInfo(*targetKey)) {
                targetWritten = smc.writeKey(
                    *targetKey, QByteArray(qsizetype(qMin<quint32>(info->dataSize, SMCParamStruct::bytesCapacity)), '\0'));
            }
        }
        const bool fanReleased = modeWritten || targetWritten;
        if (strategy == SMCFanProfile::WriteStrategy::ftstUnlock && smc.keyInfo(QStringLiteral("Ftst"))
            && smc.writeUInt8(QStringLiteral("Ftst"), 0)) {
            released = true;
        } else if (fanReleased) {
            released = true;
        }
    }
    smc.close();
    return released;
}
