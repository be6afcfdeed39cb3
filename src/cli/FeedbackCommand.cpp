#include "FeedbackCommand.h"

#include "CommandArguments.h"
#include "Console.h"
#include "app/AppState.h"
#include "server/FeedbackService.h"

#include <QEventLoop>
#include <QFutureWatcher>

QString FeedbackCommand::name() const
{
    return QStringLiteral("feedback");
}

QString FeedbackCommand::synopsis() const
{
    return QStringLiteral("СООБЩЕНИЕ [--email АДРЕС] [--diagnostics] [--offline]");
}

QString FeedbackCommand::summary() const
{
    return QStringLiteral("отправляет разработчикам сообщение о проблеме или предложение");
}

QString FeedbackCommand::details() const
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

CommandResult FeedbackCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<CommandArguments> parsed = CommandArguments::parse(
        arguments, {QStringLiteral("--diagnostics"), QStringLiteral("--offline")}, {QStringLiteral("--email")}, &error);
    if (!parsed) {
        return CommandResult::usageError(error);
    }
    if (parsed->positionals().isEmpty()) {
        return CommandResult::usageError(QStringLiteral("не указано сообщение"));
    }
    const QString message = parsed->positionals().join(QLatin1Char(' '));

    const AppEnvironment environment = AppEnvironment::platform(process());
    const QString anonymousId = environment.usage->anonymousId();
    const AppState state(environment);
    HttpTransport* transport = process().transport;
    if (parsed->hasFlag(QStringLiteral("--offline"))) {
        transport->setOffline(true);
    }

    FeedbackService feedback(transport, ClientInfo::current(),
                             FeedbackDiagnostics::platform(environment.defaults, environment.home.toString()));
    const QFuture<void> sent =
        feedback.send(message, parsed->value(QStringLiteral("--email")).value_or(QString()),
                      parsed->hasFlag(QStringLiteral("--diagnostics")), state.settings().feedbackEndpoint, anonymousId);
    QEventLoop loop;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(sent);
    if (!sent.isFinished()) {
        loop.exec();
    }

    const std::optional<FeedbackService::Result> result = feedback.lastResult();
    if (result && result->kind == FeedbackService::Result::Kind::sent) {
        console.outLine(result->text);
        return CommandResult::ok();
    }
    console.errLine(QStringLiteral("brisko: ") + (result ? result->text : QStringLiteral("сообщение не отправлено")));
    return CommandResult::failed();
}
