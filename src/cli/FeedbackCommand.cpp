#include "CliCommands.h"
#include "CommandCall.h"

#include "Console.h"
#include "EventLoopWait.h"
#include "app/AppState.h"
#include "server/FeedbackService.h"


namespace {

QString details()
{
    return QStringLiteral(
        "Сообщение — не короче 5 символов; несколько слов можно не заключать в кавычки.\n"
        "  --email АДРЕС    адрес для ответа\n"
        "  --diagnostics    приложить модель компьютера, архитектуру, локаль, место установки, "
        "последние ошибки и свободное место\n"
        "  --offline        ничего не отправлять (так же действует BRISKO_OFFLINE=1)\n"
        "Адрес сервера — feedbackEndpoint из настроек. Ответ сервера выводится в стандартный вывод, "
        "ошибка — в поток ошибок с кодом выхода 1.\n");
}

CommandResult run(const CommandCall& call)
{
    Console& console = call.console();
    if (call.positionals().isEmpty()) {
        return CommandResult::usageError(QStringLiteral("не указано сообщение"));
    }
    const QString message = call.positionals().join(QLatin1Char(' '));

    const AppEnvironment environment = call.environment();
    const QString anonymousId = environment.usage->anonymousId();
    const AppState state(environment);
    HttpTransport* transport = call.process().transport;
    if (call.isSet(QStringLiteral("offline"))) {
        transport->setOffline(true);
    }

    FeedbackService feedback(transport, ClientInfo::current(),
                             FeedbackDiagnostics::platform(environment.defaults, environment.home.toString()));
    const QFuture<void> sent =
        feedback.send(message, call.value(QStringLiteral("email")).value_or(QString()),
                      call.isSet(QStringLiteral("diagnostics")), state.settings().feedbackEndpoint, anonymousId);
    waitInEventLoop(sent);

    const std::optional<FeedbackService::Result> result = feedback.lastResult();
    if (result && result->kind == FeedbackService::Result::Kind::sent) {
        console.outLine(result->text);
        return CommandResult::ok();
    }
    console.errLine(QStringLiteral("brisko: ") + (result ? result->text : QStringLiteral("сообщение не отправлено")));
    return CommandResult::failed();
}

} // namespace

CliCommand CliCommands::feedback()
{
    return {
        .name = QStringLiteral("feedback"),
        .arguments = QStringLiteral("СООБЩЕНИЕ"),
        .summary = QStringLiteral("отправляет разработчикам сообщение о проблеме или предложение"),
        .details = details(),
        .options = {CliOption::valued(QStringLiteral("email"), QStringLiteral("АДРЕС")), CliOption::flag(QStringLiteral("diagnostics")), CliOption::flag(QStringLiteral("offline"))},
        .run = run,
    };
}
