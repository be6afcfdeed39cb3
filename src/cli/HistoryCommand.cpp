#include "CliCommands.h"
#include "CommandCall.h"

#include "CliSession.h"
#include "Console.h"
#include "OperationReport.h"
#include "TextTable.h"
#include "base/ByteCountFormatter.h"
#include "model/ReferenceDate.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

CommandResult run(const CommandCall& call)
{
    Console& console = call.console();

    const CliSession session(call.environment(), nullptr);
    const QList<StorageEvent> events = session.history();
    const StorageStats& stats = session.state().storageStats();

    if (call.json()) {
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

} // namespace

CliCommand CliCommands::history()
{
    return {
        .name = QStringLiteral("history"),
        .summary = QStringLiteral("показывает историю освобождённого места (последние 100 операций)"),
        .details = QStringLiteral(
            "Операции — новые сверху: дата, действие, число элементов, освобождено. Итог считается по хранимым\n"
            "операциям. С --json: {\"stats\": {totalFreed, eventCount, lastEvent}, \"events\": […]}, даты — секунды\n"
            "от 2001-01-01 UTC, как в хранилище.\n"),
        .options = {CliOption::flag(QStringLiteral("json"))},
        .run = run,
    };
}
