#include "CliCommands.h"
#include "CommandCall.h"

#include "Console.h"
#include "TextTable.h"
#include "platform/PlatformSystemFacts.h"
#include "scan/MacHardwareInfo.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

CommandResult run(const CommandCall& call)
{
    Console& console = call.console();
    const MacHardwareInfo info = MacHardwareInfo::current(PlatformSystemFacts());

    if (call.json()) {
        QJsonObject object;
        object.insert(QLatin1String("marketingName"), info.marketingName);
        object.insert(QLatin1String("modelIdentifier"), info.modelIdentifier);
        object.insert(QLatin1String("chipName"), info.chipName);
        object.insert(QLatin1String("memoryGB"), info.memoryGB);
        object.insert(QLatin1String("processorCount"), info.processorCount);
        object.insert(QLatin1String("osVersion"), info.osVersion);
        object.insert(QLatin1String("isNotebook"), info.isNotebook);
        console.printJson(QJsonDocument(object));
        return CommandResult::ok();
    }

    TextTable table({TextTable::Align::left, TextTable::Align::left});
    table.addRow({QStringLiteral("Модель:"), info.marketingName});
    table.addRow({QStringLiteral("Идентификатор:"), info.modelIdentifier});
    table.addRow({QStringLiteral("Процессор:"), info.chipName});
    table.addRow({QStringLiteral("Память:"), QStringLiteral("%1 ГБ").arg(info.memoryGB)});
    table.addRow({QStringLiteral("Ядер:"), QString::number(info.processorCount)});
    table.addRow({QStringLiteral("Система:"), info.osVersion});
    table.addRow({QStringLiteral("Ноутбук:"), info.isNotebook ? QStringLiteral("да") : QStringLiteral("нет")});
    console.out(table.render());
    return CommandResult::ok();
}

} // namespace

CliCommand CliCommands::hardware()
{
    return {
        .name = QStringLiteral("hardware"),
        .summary = QStringLiteral("модель, процессор, память и система этого компьютера"),
        .options = {CliOption::flag(QStringLiteral("json"))},
        .run = run,
    };
}
