#include "SettingsCommand.h"

#include "CommandArguments.h"
#include "Console.h"
#include "SettingsAssignments.h"
#include "app/AppState.h"
#include "platform/PlatformDefaultsStore.h"

#include <QJsonDocument>
#include <QJsonObject>

QString SettingsCommand::name() const
{
    return QStringLiteral("settings");
}

QString SettingsCommand::synopsis() const
{
    return QStringLiteral("get | set ПОЛЕ=ЗНАЧЕНИЕ…");
}

QString SettingsCommand::summary() const
{
    return QStringLiteral("показывает настройки (JSON) или меняет отдельные поля");
}

QString SettingsCommand::details() const
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

CommandResult SettingsCommand::run(const QStringList& arguments, Console& console)
{
    if (arguments.isEmpty()) {
        return CommandResult::usageError(QStringLiteral("укажите get или set"));
    }
    const QString action = arguments.first();
    if (action == QLatin1String("get")) {
        return get(arguments.mid(1), console);
    }
    if (action == QLatin1String("set")) {
        return set(arguments.mid(1), console);
    }
    return CommandResult::usageError(QStringLiteral("неизвестное действие «%1»; допустимы get и set").arg(action));
}

CommandResult SettingsCommand::get(const QStringList& arguments, Console& console) const
{
    if (!arguments.isEmpty()) {
        return CommandResult::usageError(QStringLiteral("settings get не принимает аргументов"));
    }
    const AppState state(AppEnvironment::platform(process()));
    QJsonObject settings;
    if (!state.settings().toJsonObject(&settings)) {
        console.errLine(QStringLiteral("brisko: настройки содержат нечисловые значения"));
        return CommandResult::failed();
    }
    console.printJson(QJsonDocument(settings));
    return CommandResult::ok();
}

CommandResult SettingsCommand::set(const QStringList& assignments, Console& console) const
{
    if (assignments.isEmpty()) {
        return CommandResult::usageError(QStringLiteral("нет присваиваний ПОЛЕ=ЗНАЧЕНИЕ"));
    }
    const AppEnvironment environment = AppEnvironment::platform(process());
    AppState state(environment);

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
            QStringLiteral("brisko: не удалось сохранить настройки в %1").arg(PlatformDefaultsStore::location()));
        return CommandResult::failed();
    }
    return CommandResult::ok();
}
