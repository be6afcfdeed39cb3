#include "SMCHardwareProfile.h"

#include "SmcMachine.h"

namespace {
const QString directWriteName = QStringLiteral("Apple Silicon (прямая запись SMC)");
const QString ftstUnlockName = QStringLiteral("Apple Silicon (Ftst unlock)");
} // namespace

SMCHardwareProfile::Kind SMCHardwareProfile::detect(const QString& modelIdentifier)
{
    const QString m = modelIdentifier.toLower();
    if (m.startsWith(QLatin1String("mac"))) {
        if (m.contains(QLatin1String("mac16,")) || m.contains(QLatin1String("mac15,13"))
            || m.contains(QLatin1String("mac15,14"))) {
            return Kind::directWrite;
        }
        if (m.contains(QLatin1String("mac14,")) || m.contains(QLatin1String("mac15,"))) {
            return Kind::ftstUnlock;
        }
        return Kind::directWrite;
    }
    if (m.startsWith(QLatin1String("imac"))) {
        return Kind::directWrite;
    }
    return Kind::unknown;
}

SMCHardwareProfile::Kind SMCHardwareProfile::current()
{
    static const Kind kind = detect(SmcMachine::modelIdentifierFromEnvironment().value_or(QString()));
    return kind;
}

std::optional<QString> SMCHardwareProfile::humanizeError(const std::optional<QString>& message, Kind kind)
{
    if (!message || message->isEmpty()) {
        return std::nullopt;
    }
    const QString m = message->toLower();
    if (m.contains(QLatin1String("cancel")) || m.contains(QLatin1String("-128"))) {
        return QStringLiteral("Запрос пароля администратора отменён. Повторите boost — macOS покажет диалог снова.");
    }
    if (m.contains(QStringLiteral("ненулевым статусом")) || m.contains(QLatin1String("non-zero status"))) {
        if (kind == Kind::directWrite) {
            return QStringLiteral("SMC отклонил команду (%1). Убедитесь, что Brisko установлен в «Программы», введите "
                                  "пароль администратора и повторите. На M5 не используйте запуск с DMG.")
                .arg(directWriteName);
        }
        return QStringLiteral("SMC отклонил команду. Повторите boost или перезагрузите Mac.");
    }
    if (m.contains(QLatin1String("helper")) && m.contains(QStringLiteral("не найден"))) {
        return QStringLiteral(
            "Встроенный помощник SMC не найден. Переустановите Brisko Vella из DMG в папку «Программы».");
    }
    if (m.contains(QLatin1String("smc"))
        && (m.contains(QLatin1String("write")) || m.contains(QStringLiteral("запись")))) {
        switch (kind) {
        case Kind::directWrite:
            return QStringLiteral("Не удалось записать в SMC (%1). Проверьте, что приложение установлено в "
                                  "«Программы», а не запущено с DMG.")
                .arg(directWriteName);
        case Kind::ftstUnlock:
            return QStringLiteral("Не удалось записать в SMC (%1). На M3/M4 иногда нужен повторный boost после "
                                  "перезагрузки. Если ошибка повторяется — используйте режим «только мониторинг».")
                .arg(ftstUnlockName);
        case Kind::unknown:
            break;
        }
        return QStringLiteral("Не удалось записать в SMC. Установите приложение в «Программы» и повторите.");
    }
    if (m.contains(QStringLiteral("не удалось открыть apple smc"))) {
        return QStringLiteral(
            "Apple SMC недоступен. Перезагрузите Mac. На некоторых конфигурациях доступен только мониторинг.");
    }
    return message;
}
