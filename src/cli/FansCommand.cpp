#include "CliCommands.h"
#include "CommandCall.h"

#include "CoolingDescription.h"
#include "EventLoopWait.h"
#include "Console.h"
#include "app/DiscardingSinks.h"
#include "fans/FanControlService.h"
#include "fans/FanTerminationHook.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLocale>

#include <cmath>
#include <cstdio>

namespace {

CommandResult boost(const QStringList& arguments, Console& console)
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

    waitInEventLoop(service.refreshSnapshot());
    service.setManualBoostPercent(percent);
    waitInEventLoop(service.applyManualBoost());
    if (!service.manualOverrideActive()) {
        const std::optional<QString> message = service.adminAlertMessage() ? service.adminAlertMessage()
                                                                            : service.lastError();
        console.errLine(QStringLiteral("brisko: ")
                        + message.value_or(FanControlService::boostFailedMessage));
        return CommandResult::failed();
    }
    console.out(describeCooling(service.snapshot()));
    console.outLine(QStringLiteral("Вентиляторы ускорены до %1 % от максимума. Нажмите Ctrl+C, чтобы вернуть "
                                   "системное управление.")
                        .arg(percent, 0, 'g', 4));
    std::fflush(stdout);

    // Held until a signal ends the process through the termination hook.
    QEventLoop hold;
    hold.exec();
    return CommandResult::ok();
}

CommandResult automatic(const QStringList& arguments, Console& console)
{
    if (!arguments.isEmpty()) {
        return CommandResult::usageError(QStringLiteral("auto не принимает аргументов"));
    }
    FanControlService service(FanControlEnvironment::platform(std::make_shared<DiscardingErrorSink>()));
    waitInEventLoop(service.refreshSnapshot());
    waitInEventLoop(service.releaseToSystem());
    const std::optional<FanControlService::ControlResult>& result = service.lastControlResult();
    if (!result || !result->ok) {
        const std::optional<QString> message =
            result ? SMCHardwareProfile::humanizeError(result->message) : std::nullopt;
        console.errLine(QStringLiteral("brisko: ")
                        + message.value_or(QStringLiteral("не удалось вернуть вентиляторы под управление системы")));
        return CommandResult::failed();
    }
    console.out(describeCooling(service.snapshot()));
    console.outLine(QStringLiteral("Вентиляторы работают под управлением системы."));
    return CommandResult::ok();
}

CommandResult run(const CommandCall& call)
{
    const QStringList& arguments = call.positionals();
    if (arguments.isEmpty()) {
        return CommandResult::usageError(QStringLiteral("укажите boost ПРОЦЕНТ или auto"));
    }
    const QString action = arguments.first();
    if (action == QLatin1String("boost")) {
        return boost(arguments.mid(1), call.console());
    }
    if (action == QLatin1String("auto")) {
        return automatic(arguments.mid(1), call.console());
    }
    return CommandResult::usageError(QStringLiteral("неизвестное действие «%1»; допустимы boost и auto").arg(action));
}

} // namespace

CliCommand CliCommands::fans()
{
    return {
        .name = QStringLiteral("fans"),
        .arguments = QStringLiteral("boost ПРОЦЕНТ | auto"),
        .summary = QStringLiteral("ускоряет вентиляторы до доли от максимума или возвращает их системе"),
        .details = QStringLiteral(
            "boost ПРОЦЕНТ — число от 0 до 100: доля диапазона от минимальных до максимальных оборотов.\n"
            "Boost действует, пока команда работает: Ctrl+C (или SIGTERM, SIGHUP) возвращает вентиляторы системе "
            "и завершает её.\n"
            "Если записать в SMC напрямую нельзя, запускается помощник brisko-smc-helper через pkexec — система "
            "спросит пароль администратора.\n"
            "auto — вернуть вентиляторы под управление системы.\n"),
        .wordsOnly = true,
        .run = run,
    };
}
