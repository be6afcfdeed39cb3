#include "HealthCommand.h"

#include "CliSession.h"
#include "CommandArguments.h"
#include "Console.h"
#include "OperationReport.h"
#include "ProgressPrinter.h"
#include "TextTable.h"
#include "health/MacHealthSnapshot.h"
#include "platform/ByteCountFormatter.h"

#include <QJsonDocument>

#include <cmath>

QString HealthCommand::name() const
{
    return QStringLiteral("health");
}

QString HealthCommand::synopsis() const
{
    return QStringLiteral("[--json]");
}

QString HealthCommand::summary() const
{
    return QStringLiteral("быстрая проверка: оценка здоровья хранилища от 0 до 100 и советы");
}

QString HealthCommand::details() const
{
    return QStringLiteral(
        "Сканирует кэши приложений, служебный мусор, файлы в Downloads, старые установщики и крупные файлы,\n"
        "находит безопасные кэши и оценивает системный диск. Ничего не меняет на диске. Ход проверки\n"
        "выводится в поток ошибок; с --json результат — один объект JSON (diskUsedPercent — доля от 0 до 1).\n");
}

CommandResult HealthCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<CommandArguments> parsed = CommandArguments::parseFlagsOnly(arguments, {QStringLiteral("--json")}, &error);
    if (!parsed) {
        return CommandResult::usageError(error);
    }
    const bool json = parsed->hasFlag(QStringLiteral("--json"));

    CliSession session(process(), nullptr);
    AppState& state = session.state();
    ProgressPrinter printer(console);
    QMetaObject::Connection shown;
    if (!json) {
        shown = QObject::connect(&state, &AppState::healthScanProgressChanged, &state, [&printer, &state] {
            if (state.healthScanProgress().isRunning) {
                printer.show(state.healthScanProgress());
            }
        });
    }
    const CliSession::OperationRun run = session.run([](AppState& s) { return s.runQuickHealthScan(); });
    QObject::disconnect(shown);
    printer.finish();
    if (!run.started || !state.healthSnapshot()) {
        return OperationReport::refused(state, console);
    }
    const MacHealthSnapshot& snapshot = *state.healthSnapshot();
    if (json) {
        QJsonObject object = snapshot.toJson();
        object.insert(QLatin1String("status"), OperationReport::status(state));
        console.printJson(QJsonDocument(object));
        return CommandResult::ok();
    }
    printText(snapshot, console);
    if (const std::optional<QString> status = state.statusMessage()) {
        console.outLine(*status);
    }
    return CommandResult::ok();
}

void HealthCommand::printText(const MacHealthSnapshot& snapshot, Console& console)
{
    TextTable table({TextTable::Align::left, TextTable::Align::left});
    table.addRow({QStringLiteral("Здоровье:"), QString::number(snapshot.healthPercent) + QStringLiteral("%")});
    table.addRow({QStringLiteral("Компьютер:"), snapshot.hardware.marketingName});
    if (snapshot.diskUsedPercent && snapshot.diskFreeBytes) {
        table.addRow({QStringLiteral("Системный диск:"),
                      QStringLiteral("занято %1%, свободно %2")
                          .arg(qint64(std::trunc(*snapshot.diskUsedPercent * 100)))
                          .arg(ByteCountFormatter::format(*snapshot.diskFreeBytes))});
    } else {
        table.addRow({QStringLiteral("Системный диск:"), QStringLiteral("нет сведений")});
    }
    table.addRow({QStringLiteral("Можно освободить:"), ByteCountFormatter::format(snapshot.reclaimableBytes)});
    table.addRow({QStringLiteral("Найдено элементов:"), QString::number(snapshot.itemCount)});
    table.addRow({QStringLiteral("Безопасные кэши:"), ByteCountFormatter::format(snapshot.safeCleanupBytes)});
    console.out(table.render());
    console.outLine(QStringLiteral("Советы:"));
    for (const QString& tip : snapshot.tips) {
        console.outLine(QStringLiteral("  • ") + tip);
    }
}
