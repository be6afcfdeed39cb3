#include "CliCommands.h"
#include "CommandCall.h"

#include "Console.h"
#include "EventLoopWait.h"
#include "app/AppState.h"
#include "update/UpdateService.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace {

QString phaseName(UpdatePhase::Kind kind)
{
    switch (kind) {
    case UpdatePhase::Kind::idle:
        return QStringLiteral("idle");
    case UpdatePhase::Kind::downloading:
        return QStringLiteral("downloading");
    case UpdatePhase::Kind::readyToInstall:
        return QStringLiteral("readyToInstall");
    case UpdatePhase::Kind::installing:
        return QStringLiteral("installing");
    case UpdatePhase::Kind::failed:
        return QStringLiteral("failed");
    }
    return {};
}

QJsonObject describe(const UpdateService& service)
{
    const std::optional<AppUpdateInfo>& update = service.availableUpdate();
    QJsonValue offered(QJsonValue::Null);
    if (update) {
        offered = QJsonObject{
            {QStringLiteral("version"), update->version},
            {QStringLiteral("build"), update->build},
            {QStringLiteral("downloadURL"), update->downloadURL.toString()},
            {QStringLiteral("releaseNotes"), update->releaseNotes},
            {QStringLiteral("sha256"), update->sha256 ? QJsonValue(*update->sha256) : QJsonValue(QJsonValue::Null)},
        };
    }
    QJsonObject phase{{QStringLiteral("kind"), phaseName(service.phase().kind)}};
    if (service.phase().kind == UpdatePhase::Kind::readyToInstall) {
        phase.insert(QStringLiteral("localPath"), service.phase().localPath);
    }
    if (service.phase().kind == UpdatePhase::Kind::failed) {
        phase.insert(QStringLiteral("message"), service.phase().message);
    }
    return {
        {QStringLiteral("currentVersion"), service.deployment().localVersion},
        {QStringLiteral("currentBuild"), service.deployment().localBuild},
        {QStringLiteral("availableUpdate"), offered},
        {QStringLiteral("lastCheckError"), service.lastCheckError() ? QJsonValue(*service.lastCheckError())
                                                                    : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("phase"), phase},
        {QStringLiteral("canInstallInPlace"), service.canInstallInPlace()},
    };
}

CommandResult run(const CommandCall& call)
{
    Console& console = call.console();
    const QStringList actions = {QStringLiteral("check"), QStringLiteral("download"), QStringLiteral("install")};
    if (call.positionals().size() != 1 || !actions.contains(call.positionals().first())) {
        return CommandResult::usageError(QStringLiteral("укажите check, download или install"));
    }
    const QString action = call.positionals().first();
    const bool json = call.json();

    const AppEnvironment environment = call.environment();
    const AppState state(environment);
    HttpTransport* transport = call.process().transport;
    if (call.isSet(QStringLiteral("offline"))) {
        transport->setOffline(true);
    }
    std::unique_ptr<UpdateService> service(
        UpdateService::forPlatform(transport, call.process().fileSystem, environment.errors, nullptr));
    // The new copy shows that it runs by printing its version; this command
    // ends by itself once the install's future has finished.
    UpdateService::Relaunch relaunch;
    relaunch.arguments = {QStringLiteral("--version")};
    relaunch.start = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    relaunch.quit = [] {};
    service->setRelaunch(relaunch);

    waitInEventLoop(service->check(state.settings().updateCheckURL));
    bool ok = !service->lastCheckError().has_value();
    if (ok && service->availableUpdate() && action != QLatin1String("check")) {
        waitInEventLoop(service->downloadUpdate());
        if (action == QLatin1String("install") && service->phase().kind == UpdatePhase::Kind::readyToInstall) {
            waitInEventLoop(service->installDownloadedUpdate());
        }
        ok = service->phase().kind != UpdatePhase::Kind::failed;
    }

    if (json) {
        console.printJson(QJsonDocument(describe(*service)));
    } else if (service->lastCheckError()) {
        console.errLine(*service->lastCheckError());
    } else if (!service->availableUpdate()) {
        console.outLine(QStringLiteral("Установлена последняя версия (%1, сборка %2)")
                            .arg(service->deployment().localVersion, service->deployment().localBuild));
    } else {
        const AppUpdateInfo& update = *service->availableUpdate();
        console.outLine(QStringLiteral("Доступна версия %1 (сборка %2)").arg(update.version, update.build));
        if (!update.releaseNotes.isEmpty()) {
            console.outLine(update.releaseNotes);
        }
        switch (service->phase().kind) {
        case UpdatePhase::Kind::readyToInstall:
            console.outLine(QStringLiteral("Загружено и проверено: %1").arg(service->phase().localPath));
            break;
        case UpdatePhase::Kind::installing:
            console.outLine(QStringLiteral("Установлено. Запускается новая копия…"));
            break;
        case UpdatePhase::Kind::failed:
            console.errLine(service->phase().message);
            break;
        default:
            break;
        }
    }
    return ok ? CommandResult::ok() : CommandResult::failed();
}

} // namespace

CliCommand CliCommands::update()
{
    return {
        .name = QStringLiteral("update"),
        .arguments = QStringLiteral("check|download|install"),
        .summary = QStringLiteral("проверяет, загружает и устанавливает обновления"),
        .details = QStringLiteral(
            "check — спрашивает сервер (updateCheckURL из настроек), есть ли сборка новее этой.\n"
            "download — загружает её в папку обновлений и сверяет контрольную сумму SHA-256.\n"
            "install — загружает, проверяет подпись и устанавливает в ~/.local/share/brisko-vella "
            "(прежняя версия сохраняется), затем запускает новую копию с --version.\n"
            "Установка возможна, только если программа запущена из этой папки (см. scripts/install-user).\n"
            "Код выхода 1 — ошибка проверки, загрузки или установки.\n"),
        .options = {CliOption::flag(QStringLiteral("json")), CliOption::flag(QStringLiteral("offline"))},
        .run = run,
    };
}
