#include "CliCommands.h"
#include "CommandCall.h"

#include "CliSession.h"
#include "Console.h"
#include "OperationReport.h"
#include "ProgressPrinter.h"
#include "TextTable.h"
#include "base/ByteCountFormatter.h"
#include "health/MacHealthSnapshot.h"

#include <QJsonDocument>

#include <cmath>

namespace {

QString details()
{
    return QStringLiteral(
        "Сканирует кэши приложений, служебный мусор, файлы в Downloads, старые установщики и крупные файлы,\n"
        "находит безопасные кэши и оценивает системный диск. Ничего не меняет на диске. Ход проверки\n"
        "выводится в поток ошибок; с --json результат — один объект JSON (diskUsedPercent — доля от 0 до 1).\n");
}

void printText(const MacHealthSnapshot& snapshot, Console& console)
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

CommandResult run(const CommandCall& call)
{
    Console& console = call.console();
    const bool json = call.json();

    CliSession session(call.environment(), nullptr);
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

} // namespace

CliCommand CliCommands::health()
{
    return {
        .name = QStringLiteral("health"),
        .summary = QStringLiteral("быстрая проверка: оценка здоровья хранилища от 0 до 100 и советы"),
        .details = details(),
        .options = {CliOption::flag(QStringLiteral("json"))},
        .run = run,
    };
}
