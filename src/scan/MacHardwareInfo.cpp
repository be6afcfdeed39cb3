#include "MacHardwareInfo.h"

MacHardwareInfo MacHardwareInfo::current(const SystemFacts& facts)
{
    MacHardwareInfo info;
    info.modelIdentifier = facts.string(QStringLiteral("hw.model")).value_or(QStringLiteral("unknown"));
    const QString brand = facts.string(QStringLiteral("machdep.cpu.brand_string")).value_or(QStringLiteral("Apple Silicon"));
    if (const std::optional<quint64> cores = facts.integer(QStringLiteral("hw.physicalcpu"))) {
        info.processorCount = qint64(*cores);
    } else {
        info.processorCount = facts.processorCount();
    }
    const qint64 memory = qint64(facts.physicalMemory() >> 30);
    info.memoryGB = memory == 0 ? 1 : memory;
    const OsVersion os = facts.osVersion();
    info.osVersion = QStringLiteral("%1 %2.%3.%4").arg(os.name).arg(os.major).arg(os.minor).arg(os.patch);
    info.isNotebook = info.modelIdentifier.toLower().contains(QLatin1String("book"))
        || info.modelIdentifier.startsWith(QLatin1String("Mac"));
    info.chipName = brand.trimmed();
    info.marketingName = marketingNameFor(info.modelIdentifier, brand);
    return info;
}

QString MacHardwareInfo::chipLabel(const QString& brand)
{
    const QString lower = brand.toLower();
    static const std::pair<const char*, const char*> chips[] = {
        {"m5", "Apple M5"}, {"m4", "Apple M4"}, {"m3", "Apple M3"}, {"m2", "Apple M2"}, {"m1", "Apple M1"},
        {"intel", "Intel"},
    };
    for (const auto& [needle, label] : chips) {
        if (lower.contains(QLatin1String(needle))) {
            return QLatin1String(label);
        }
    }
    const qsizetype at = brand.indexOf(QLatin1Char('@'));
    QString head = at < 0 ? brand : brand.left(at);
    // Only spaces are trimmed here, as the naming rule has it.
    while (head.startsWith(QLatin1Char(' '))) {
        head.remove(0, 1);
    }
    while (head.endsWith(QLatin1Char(' '))) {
        head.chop(1);
    }
    return head;
}

QString MacHardwareInfo::marketingNameFor(const QString& modelIdentifier, const QString& brand)
{
    const QString chip = chipLabel(brand);
    const QString model = modelIdentifier.toLower();
    QString family;
    if (model.contains(QLatin1String("bookair"))) {
        family = QStringLiteral("MacBook Air (");
    } else if (model.contains(QLatin1String("bookpro"))) {
        family = QStringLiteral("MacBook Pro (");
    } else if (model.contains(QLatin1String("mini"))) {
        family = QStringLiteral("Mac mini (");
    } else if (model.contains(QLatin1String("studio"))) {
        family = QStringLiteral("Mac Studio (");
    } else if (model.contains(QLatin1String("imac"))) {
        family = QStringLiteral("iMac (");
    } else if (model.startsWith(QLatin1String("mac"))) {
        family = QStringLiteral("MacBook Pro (");
    }
    if (family.isEmpty()) {
        return modelIdentifier + QStringLiteral(" (") + chip + QStringLiteral(")");
    }
    return family + chip + QStringLiteral(")");
}
