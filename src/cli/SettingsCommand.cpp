#include "CliCommands.h"
#include "CommandCall.h"

#include "Console.h"
#include "SettingsAssignments.h"
#include "app/AppState.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString details()
{
    return QStringLiteral(
        "Значения читаются по типу поля:\n"
        "  логические — true или false;\n"
        "  пороги и проценты — неотрицательные числа (largeFileThresholdMB=1.5);\n"
        "  archiveCandidateMinDays, installerMaxAgeDays — неотрицательные целые;\n"
        "  videoSearchMode — namePrefix или fileType;\n"
        "  fanControlMode — system, manual или autoBoost;\n"
        "  excludedPaths — имена через запятую или массив JSON;\n"
        "  eulaAcceptedAt — дата ISO 8601 или секунды от 2001-01-01; пустое значение убирает дату;\n"
        "  остальные — строки.\n"
        "Если хотя бы одно присваивание неверно, настройки не меняются.\n");
}

CommandResult get(const QStringList& arguments, const CommandCall& call)
{
    if (!arguments.isEmpty()) {
        return CommandResult::usageError(QStringLiteral("settings get не принимает аргументов"));
    }
    const AppState state(call.environment());
    Console& console = call.console();
    QJsonObject settings;
    if (!state.settings().toJsonObject(&settings)) {
        console.errLine(QStringLiteral("brisko: настройки содержат нечисловые значения"));
        return CommandResult::failed();
    }
    console.printJson(QJsonDocument(settings));
    return CommandResult::ok();
}

CommandResult set(const QStringList& assignments, const CommandCall& call)
{
    if (assignments.isEmpty()) {
        return CommandResult::usageError(QStringLiteral("нет присваиваний ПОЛЕ=ЗНАЧЕНИЕ"));
    }
    const AppEnvironment environment = call.environment();
    AppState state(environment);
    Console& console = call.console();

    QString error;
    const std::optional<AppSettings> changed = SettingsAssignments::apply(state.settings(), assignments, &error);
    if (!changed) {
        return CommandResult::usageError(error);
    }
    AppSettings accepted = *changed;
    if (accepted.archivePath != state.settings().archivePath) {
        const std::optional<QString> archive = AppSettings::archivePathFrom(accepted.archivePath, state.home().toString());
        if (!archive) {
            return CommandResult::usageError(QStringLiteral("archivePath: ") + AppSettings::relativeArchivePathMessage);
        }
        accepted.archivePath = *archive;
    }
    state.setSettings(accepted);
    if (!state.saveSettings()) {
        console.errLine(
            QStringLiteral("brisko: не удалось сохранить настройки в %1").arg(environment.defaultsFile.toString()));
        return CommandResult::failed();
    }
    return CommandResult::ok();
}

CommandResult run(const CommandCall& call)
{
    const QStringList& arguments = call.positionals();
    if (arguments.isEmpty()) {
        return CommandResult::usageError(QStringLiteral("укажите get или set"));
    }
    const QString action = arguments.first();
    if (action == QLatin1String("get")) {
        return get(arguments.mid(1), call);
    }
    if (action == QLatin1String("set")) {
        return set(arguments.mid(1), call);
    }
    return CommandResult::usageError(QStringLiteral("неизвестное действие «%1»; допустимы get и set").arg(action));
}

} // namespace

CliCommand CliCommands::settings()
{
    return {
        .name = QStringLiteral("settings"),
        .arguments = QStringLiteral("get | set ПОЛЕ=ЗНАЧЕНИЕ…"),
        .summary = QStringLiteral("показывает настройки (JSON) или меняет отдельные поля"),
        .details = details(),
        .wordsOnly = true,
        .run = run,
    };
}
