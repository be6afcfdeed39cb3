#include "CliCommands.h"
#include "CommandCall.h"

#include "Console.h"
#include "CoolingDescription.h"
#include "EventLoopWait.h"
#include "app/DiscardingSinks.h"
#include "base/TemperatureText.h"
#include "fans/FanControlService.h"

#include <QJsonDocument>

namespace {

CommandResult run(const CommandCall& call)
{
    Console& console = call.console();

    FanControlService service(FanControlEnvironment::platform(std::make_shared<DiscardingErrorSink>()));
    waitInEventLoop(service.refreshSnapshot());
    const CoolingSnapshot& snapshot = service.snapshot();

    if (call.json()) {
        console.printJson(QJsonDocument(snapshot.toJsonObject()));
    } else {
        console.out(describeCooling(snapshot));
    }
    if (service.lastError()) {
        console.errLine(QStringLiteral("brisko: ") + *service.lastError());
    }
    const bool unavailable = snapshot.fans.isEmpty() && snapshot.temperatures.isEmpty()
        && snapshot.note == CoolingSnapshotReader::unavailableNote;
    return unavailable ? CommandResult::failed() : CommandResult::ok();
}

} // namespace

CliCommand CliCommands::cooling()
{
    return {
        .name = QStringLiteral("cooling"),
        .summary = QStringLiteral("температура и обороты вентиляторов через Apple SMC"),
        .details = QStringLiteral(
            "С --json выводится снимок с полями fans, temperatures, maxTemperature, isControllable и note.\n"
            "Переменная BRISKO_SMC выбирает другой SMC: sim:intel, sim:m1-m4, sim:m5, sim:fanless "
            "(симулятор; с «:readonly» запись запрещена), applesmc:КОРЕНЬ или none.\n"
            "Код выхода 1, если Apple SMC недоступен.\n"),
        .options = {CliOption::flag(QStringLiteral("json"))},
        .run = run,
    };
}
