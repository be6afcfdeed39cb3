#include "CliCommands.h"
#include "CommandCall.h"

#include "Console.h"
#include "EventLoopWait.h"
#include "app/AppState.h"
#include "server/RegionGateService.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

CommandResult run(const CommandCall& call)
{
    Console& console = call.console();
    const AppState state(call.environment());
    HttpTransport* transport = call.process().transport;
    if (call.isSet(QStringLiteral("offline"))) {
        transport->setOffline(true);
    }

    RegionGateService gate(transport);
    const QFuture<void> evaluation = gate.evaluate(state.settings().regionCheckURL);
    waitInEventLoop(evaluation);

    const QString verdict = RegionGateService::statusName(gate.status());
    const QString summary = gate.lastCheckSummary().value_or(QString());
    if (call.json()) {
        console.printJson(QJsonDocument(QJsonObject{{QStringLiteral("status"), verdict},
                                                    {QStringLiteral("lastCheckSummary"), summary}}));
    } else {
        console.outLine(verdict);
        console.outLine(summary);
    }
    return gate.status() == RegionGateService::Status::blocked ? CommandResult::failed() : CommandResult::ok();
}

} // namespace

CliCommand CliCommands::region()
{
    return {
        .name = QStringLiteral("region"),
        .summary = QStringLiteral("проверяет регион, как при запуске: allowed или blocked"),
        .details = QStringLiteral(
            "Спрашивает сервер по адресу regionCheckURL из настроек (не дольше 3 секунд) и выводит вердикт "
            "(allowed или blocked) и итог проверки. Без ответа сервера доступ разрешён.\n"
            "С --offline запрос не отправляется (так же действует переменная BRISKO_OFFLINE=1).\n"
            "Код выхода 1 — регион заблокирован.\n"),
        .options = {CliOption::flag(QStringLiteral("json")), CliOption::flag(QStringLiteral("offline"))},
        .run = run,
    };
}
