#include "RegionCommand.h"

#include "CommandArguments.h"
#include "Console.h"
#include "app/AppState.h"
#include "server/RegionGateService.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QJsonDocument>
#include <QJsonObject>

QString RegionCommand::name() const
{
    return QStringLiteral("region");
}

QString RegionCommand::synopsis() const
{
    return QStringLiteral("[--json] [--offline]");
}

QString RegionCommand::summary() const
{
    return QStringLiteral("проверяет регион, как при запуске: allowed или blocked");
}

QString RegionCommand::details() const
{
    return QStringLiteral(
        "Спрашивает сервер по адресу regionCheckURL из настроек (не дольше 3 секунд) и выводит вердикт "
        "(allowed или blocked) и итог проверки. Без ответа сервера доступ разрешён.\n"
        "С --offline запрос не отправляется (так же действует переменная BRISKO_OFFLINE=1).\n"
        "Код выхода 1 — регион заблокирован.\n");
}

CommandResult RegionCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<CommandArguments> parsed = CommandArguments::parseFlagsOnly(arguments, {QStringLiteral("--json"), QStringLiteral("--offline")}, &error);
    if (!parsed) {
        return CommandResult::usageError(error);
    }
    const AppState state(AppEnvironment::platform(process()));
    HttpTransport* transport = process().transport;
    if (parsed->hasFlag(QStringLiteral("--offline"))) {
        transport->setOffline(true);
    }

    RegionGateService gate(transport);
    const QFuture<void> evaluation = gate.evaluate(state.settings().regionCheckURL);
    QEventLoop loop;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(evaluation);
    if (!evaluation.isFinished()) {
        loop.exec();
    }

    const QString verdict = RegionGateService::statusName(gate.status());
    const QString summary = gate.lastCheckSummary().value_or(QString());
    if (parsed->hasFlag(QStringLiteral("--json"))) {
        console.printJson(QJsonDocument(QJsonObject{{QStringLiteral("status"), verdict},
                                                    {QStringLiteral("lastCheckSummary"), summary}}));
    } else {
        console.outLine(verdict);
        console.outLine(summary);
    }
    return gate.status() == RegionGateService::Status::blocked ? CommandResult::failed() : CommandResult::ok();
}
