#include "HardwareCommand.h"

#include "CommandArguments.h"
#include "Console.h"
#include "TextTable.h"
#include "platform/PlatformSystemFacts.h"
#include "scan/MacHardwareInfo.h"

#include <QJsonDocument>
#include <QJsonObject>

QString HardwareCommand::name() const
{
    return QStringLiteral("hardware");
}

QString HardwareCommand::synopsis() const
{
    return QStringLiteral("[--json]");
}

QString HardwareCommand::summary() const
{
    return QStringLiteral("модель, процессор, память и система этого компьютера");
}

CommandResult HardwareCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<CommandArguments> parsed = CommandArguments::parseFlagsOnly(arguments, {QStringLiteral("--json")}, &error);
    if (!parsed) {
        return CommandResult::usageError(error);
    }
    const MacHardwareInfo info = MacHardwareInfo::current(PlatformSystemFacts());

    if (parsed->hasFlag(QStringLiteral("--json"))) {
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
