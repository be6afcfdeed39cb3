#include "DisksCommand.h"

#include "CommandArguments.h"
#include "Console.h"
#include "TextTable.h"
#include "app/AppState.h"
#include "platform/ByteCountFormatter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QString DisksCommand::name() const
{
    return QStringLiteral("disks");
}

QString DisksCommand::synopsis() const
{
    return QStringLiteral("[--json]");
}

QString DisksCommand::summary() const
{
    return QStringLiteral("тома от 1 ГБ, самые заполненные первыми");
}

CommandResult DisksCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<CommandArguments> parsed = CommandArguments::parseFlagsOnly(arguments, {QStringLiteral("--json")}, &error);
    if (!parsed) {
        return CommandResult::usageError(error);
    }
    const AppState state(AppEnvironment::platform(process()));
    const DiskInfoList& disks = state.disks();

    if (parsed->hasFlag(QStringLiteral("--json"))) {
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
