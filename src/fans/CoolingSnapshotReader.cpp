#include "CoolingSnapshotReader.h"

#include "AppleSMC.h"
#include "SMCSensorReader.h"

#include <algorithm>

bool CoolingSnapshotReader::WriteProbe::answer(const std::function<bool()>& probe)
{
    QMutexLocker lock(&m_mutex);
    if (!m_answer) {
        m_answer = probe();
    }
    return *m_answer;
}

std::optional<bool> CoolingSnapshotReader::WriteProbe::known() const
{
    QMutexLocker lock(&m_mutex);
    return m_answer;
}

CoolingSnapshotReader::Reading CoolingSnapshotReader::read(const SmcMachine& machine, const SMCFanProfile& profile,
                                                           bool helperAvailable, WriteProbe& probe)
{
    Reading reading;
    AppleSMC smc(machine.transport, machine.clock);
    if (!smc.open()) {
        reading.snapshot.note = unavailableNote;
        reading.error = openErrorText;
        return reading;
    }
    CoolingSnapshot& snapshot = reading.snapshot;
    snapshot.fans = SMCSensorReader::readFans(smc);
    snapshot.temperatures = SMCSensorReader::readTemperatures(smc);
    if (!snapshot.temperatures.isEmpty()) {
        snapshot.maxTemperature = std::max_element(snapshot.temperatures.cbegin(), snapshot.temperatures.cend(),
                                                   [](const TemperatureReading& a, const TemperatureReading& b) {
                                                       return a.celsius < b.celsius;
                                                   })
                                      ->celsius;
    }
    const bool direct = probe.answer([&smc] { return smc.canWrite(); });
    const bool hasFans = !snapshot.fans.isEmpty();
    snapshot.isControllable = hasFans && (direct || helperAvailable);

    if (!hasFans && snapshot.temperatures.isEmpty()) {
        snapshot.note = QStringLiteral(
            "Датчики SMC не ответили. Перезапустите вкладку или проверьте права приложения.");
    } else if (!hasFans) {
        snapshot.note.reset();
    } else if (direct) {
        snapshot.note = QStringLiteral(
            "Ручной boost доступен. Используйте осторожно — при перегреве проверьте пыль и фоновые процессы.");
    } else if (helperAvailable) {
        snapshot.note = QStringLiteral("Профиль %1. При boost macOS покажет запрос пароля администратора (не "
                                       "Terminal). Если окно не видно — сверните другие приложения.")
                            .arg(profile.chipLabel);
    } else {
        snapshot.note = QStringLiteral("Только мониторинг — управление SMC недоступно на этом Mac.");
    }
    smc.close();
    return reading;
}
