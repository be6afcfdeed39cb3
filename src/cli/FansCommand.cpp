#include "FansCommand.h"

#include "CoolingCommand.h"
#include "Console.h"
#include "app/DiscardingSinks.h"
#include "fans/FanControlService.h"
#include "fans/FanTerminationHook.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLocale>

#include <cmath>
#include <cstdio>

QString FansCommand::name() const
{
    return QStringLiteral("fans");
}

QString FansCommand::synopsis() const
{
    return QStringLiteral("boost ПРОЦЕНТ | auto");
}

QString FansCommand::summary() const
{
    return QStringLiteral("ускоряет вентиляторы до доли от максимума или возвращает их системе");
}

QString FansCommand::details() const
{
    return QStringLiteral(
        "boost ПРОЦЕНТ — число от 0 до 100: доля диапазона от минимальных до максимальных оборотов.\n"
        "Boost действует, пока команда работает: Ctrl+C (или SIGTERM, SIGHUP) возвращает вентиляторы системе "
        "и завершает её.\n"
        "Если записать в SMC напрямую нельзя, запускается помощник brisko-smc-helper через pkexec — система "
        "спросит пароль администратора.\n"
        "auto — вернуть вентиляторы под управление системы.\n");
}

CommandResult FansCommand::run(const QStringList& arguments, Console& console)
{
    if (arguments.isEmpty()) {
        return CommandResult::usageError(QStringLiteral("укажите boost ПРОЦЕНТ или auto"));
    }
    const QString action = arguments.first();
    if (action == QLatin1String("boost")) {
        return boost(arguments.mid(1), console);
    }
    if (action == QLatin1String("auto")) {
        return automatic(arguments.mid(1), console);
    }
    return CommandResult::usageError(QStringLiteral("неизвестное действие «%1»; допустимы boost и auto").arg(action));
}

CommandResult FansCommand::boost(const QStringList& arguments, Console& console)
{
    if (arguments.size() != 1) {
        return CommandResult::usageError(QStringLiteral("boost принимает один аргумент — процент от 0 до 100"));
    }
    bool ok = false;
    const double percent = QLocale::c().toDouble(arguments.first(), &ok);
    if (!ok || !std::isfinite(percent) || percent < 0.0 || percent > 100.0) {
        return CommandResult::usageError(
            QStringLiteral("процент должен быть числом от 0 до 100, а не «%1»").arg(arguments.first()));
    }

    FanControlService service(FanControlEnvironment::platform(std::make_shared<DiscardingErrorSink>()));
    // From here on an interrupt hands the fans back before the process ends.
    FanTerminationHook::install(*QCoreApplication::instance(), service, TerminationFlag::process(),
                                [](bool released) {
                                    Console errors;
                                    errors.errLine(released
                                                       ? QStringLiteral("Вентиляторы возвращены под управление системы.")
                                                       : QStringLiteral("Не удалось вернуть вентиляторы напрямую — "
                                                                        "выполните «brisko fans auto»."));
                                });

    CoolingCommand::waitFor(service.refreshSnapshot());
    service.setManualBoostPercent(percent);
    CoolingCommand::waitFor(service.applyManualBoost());
    if (!service.manualOverrideActive()) {
        const std::optional<QString> message = service.adminAlertMessage() ? service.adminAlertMessage()
                                                                            : service.lastError();
        console.errLine(QStringLiteral("brisko: ")
                        + message.value_or(FanControlService::boostFailedMessage));
        return CommandResult::failed();
    }
    console.out(CoolingCommand::describe(service.snapshot()));
    console.outLine(QStringLiteral("Вентиляторы ускорены до %1 % от максимума. Нажмите Ctrl+C, чтобы вернуть "
                                   "системное управление.")
                        .arg(percent, 0, 'g', 4));
    std::fflush(stdout);

    // Held until a signal ends the process through the termination hook.
    QEventLoop hold;
    hold.exec();
    return CommandResult::ok();
}

CommandResult FansCommand::automatic(const QStringList& arguments, Console& console)
{
    if (!arguments.isEmpty()) {
        return CommandResult::usageError(QStringLiteral("auto не принимает аргументов"));
    }
    FanControlService service(FanControlEnvironment::platform(std::make_shared<DiscardingErrorSink>()));
    CoolingCommand::waitFor(service.refreshSnapshot());
    CoolingCommand::waitFor(service.releaseToSystem());
    const std::optional<FanControlService::ControlResult>& result = service.lastControlResult();
    if (!result || !result->ok) {
        const std::optional<QString> message =
            result ? SMCHardwareProfile::humanizeError(result->message) : std::nullopt;
        console.errLine(QStringLiteral("brisko: ")
                        + message.value_or(QStringLiteral("не удалось вернуть вентиляторы под управление системы")));
        return CommandResult::failed();
    }
    console.out(CoolingCommand::describe(service.snapshot()));
    console.outLine(QStringLiteral("Вентиляторы работают под управлением системы."));
    return CommandResult::ok();
}
