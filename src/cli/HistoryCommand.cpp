#include "HistoryCommand.h"

#include "CliSession.h"
#include "CommandArguments.h"
#include "Console.h"
#include "OperationReport.h"
#include "TextTable.h"
#include "app/ReferenceDate.h"
#include "platform/ByteCountFormatter.h"

#include <QJsonArray>
#include <QJsonDocument>

QString HistoryCommand::name() const
{
    return QStringLiteral("history");
}

QString HistoryCommand::synopsis() const
{
    return QStringLiteral("[--json]");
}

QString HistoryCommand::summary() const
{
    return QStringLiteral("показывает историю освобождённого места (последние 100 операций)");
}

QString HistoryCommand::details() const
{
    return QStringLiteral(
        "Операции — новые сверху: дата, действие, число элементов, освобождено. Итог считается по хранимым\n"
        "операциям. С --json: {\"stats\": {totalFreed, eventCount, lastEvent}, \"events\": […]}, даты — секунды\n"
        "от 2001-01-01 UTC, как в хранилище.\n");
}

CommandResult HistoryCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<CommandArguments> parsed =
        CommandArguments::parseFlagsOnly(arguments, {QStringLiteral("--json")}, &error);
    if (!parsed) {
        return CommandResult::usageError(error);
    }

    const CliSession session(process(), nullptr);
    const QList<StorageEvent> events = session.history();
    const StorageStats& stats = session.state().storageStats();

    if (parsed->hasFlag(QStringLiteral("--json"))) {
        QJsonArray list;
        for (const StorageEvent& event : events) {
            list.append(event.toJson());
        }
        QJsonObject result;
        result.insert(QLatin1String("stats"), OperationReport::stats(stats));
        result.insert(QLatin1String("events"), list);
        console.printJson(QJsonDocument(result));
        return CommandResult::ok();
    }

    if (events.isEmpty()) {
        console.outLine(QStringLiteral("История пуста"));
        return CommandResult::ok();
    }
    TextTable table({TextTable::Align::left, TextTable::Align::right, TextTable::Align::right, TextTable::Align::left});
    table.addRow({QStringLiteral("Дата"), QStringLiteral("Элементов"), QStringLiteral("Освобождено"),
                  QStringLiteral("Действие")});
    for (const StorageEvent& event : events) {
        const QDateTime date = ReferenceDate::toDateTime(event.date).toLocalTime();
        table.addRow({date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), QString::number(event.itemCount),
                      ByteCountFormatter::format(event.bytesFreed), event.action});
    }
    console.out(table.render());
    console.out(QStringLiteral("\n"));
    console.outLine(QStringLiteral("Освобождено ") + ByteCountFormatter::format(stats.totalFreed)
                    + QStringLiteral(", операций: ") + QString::number(stats.eventCount));
    return CommandResult::ok();
}
