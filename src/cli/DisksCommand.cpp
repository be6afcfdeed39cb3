#include "CliCommands.h"
#include "CommandCall.h"

#include "Console.h"
#include "TextTable.h"
#include "app/AppState.h"
#include "base/ByteCountFormatter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

CommandResult run(const CommandCall& call)
{
    Console& console = call.console();
    const AppState state(call.environment());
    const DiskInfoList& disks = state.disks();

    if (call.json()) {
        QJsonArray list;
        for (const DiskInfo& disk : disks) {
            QJsonObject entry;
            entry.insert(QLatin1String("name"), disk.name);
            entry.insert(QLatin1String("path"), disk.path);
            entry.insert(QLatin1String("total"), disk.total);
            entry.insert(QLatin1String("used"), disk.used);
            entry.insert(QLatin1String("free"), disk.free);
            list.append(entry);
        }
        console.printJson(QJsonDocument(list));
        return CommandResult::ok();
    }

    if (disks.isEmpty()) {
        console.outLine(QStringLiteral("Томов не найдено"));
        return CommandResult::ok();
    }
    TextTable table({TextTable::Align::left, TextTable::Align::left, TextTable::Align::right, TextTable::Align::right,
                     TextTable::Align::right});
    table.addRow({QStringLiteral("Имя"), QStringLiteral("Путь"), QStringLiteral("Всего"), QStringLiteral("Занято"),
                  QStringLiteral("Свободно")});
    for (const DiskInfo& disk : disks) {
        table.addRow({disk.name, disk.path, ByteCountFormatter::format(disk.total),
                      ByteCountFormatter::format(disk.used), ByteCountFormatter::format(disk.free)});
    }
    console.out(table.render());
    return CommandResult::ok();
}

} // namespace

CliCommand CliCommands::disks()
{
    return {
        .name = QStringLiteral("disks"),
        .summary = QStringLiteral("тома от 1 ГБ, самые заполненные первыми"),
        .options = {CliOption::flag(QStringLiteral("json"))},
        .run = run,
    };
}
