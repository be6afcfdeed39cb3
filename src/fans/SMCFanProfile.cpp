#include "SMCFanProfile.h"

SMCFanProfile SMCFanProfile::detect(const QString& modelIdentifier)
{
    const QString m = modelIdentifier.toLower();
    const auto profile = [&](WriteStrategy strategy, const char* chip) {
        return SMCFanProfile{strategy, QString::fromUtf8(chip), modelIdentifier};
    };
    if (m.startsWith(QLatin1String("mac16,")) || m.contains(QLatin1String("mac15,13"))
        || m.contains(QLatin1String("mac15,14"))) {
        return profile(WriteStrategy::directWrite, "Apple M5");
    }
    if (m.startsWith(QLatin1String("mac14,"))
        || (m.startsWith(QLatin1String("mac15,")) && !m.contains(QLatin1String("mac15,3")))) {
        return profile(WriteStrategy::ftstUnlock, "Apple M3/M4");
    }
    if (m.startsWith(QLatin1String("mac"))) {
        return profile(WriteStrategy::directWrite, "Apple M1/M2");
    }
    return profile(WriteStrategy::directWrite, "Apple Silicon");
}

QString SMCFanProfile::note() const
{
    if (strategy == WriteStrategy::ftstUnlock) {
        return QStringLiteral("Профиль %1: перед boost выполняется Ftst unlock.").arg(chipLabel);
    }
    return QStringLiteral("Профиль %1: прямая запись SMC.").arg(chipLabel);
}
