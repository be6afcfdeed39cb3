#include "OperationReport.h"

#include "Console.h"
#include "app/AppState.h"

#include <QJsonArray>
#include <QJsonDocument>

CommandResult OperationReport::refused(const AppState& state, Console& console)
{
    console.errLine(QStringLiteral("brisko: ") + state.statusMessage().value_or(QStringLiteral("операция отклонена")));
    return CommandResult::failed();
}

CommandResult OperationReport::finish(const AppState& state, qint64 failed, const QStringList& errors,
                                      const std::optional<QJsonObject>& json, const QStringList& lines,
                                      Console& console)
{
    if (json) {
        QJsonObject result = *json;
        result.insert(QLatin1String("status"), status(state));
        if (const std::optional<MoveRecovery>& recovery = state.lastRecovery()) {
            result.insert(QLatin1String("recovery"), recovery->toJson());
        }
        console.printJson(QJsonDocument(result));
    } else {
        for (const QString& error : errors) {
            console.errLine(QStringLiteral("brisko: ") + error);
        }
        for (const QString& line : lines) {
            console.outLine(line);
        }
        if (const std::optional<QString> line = state.statusMessage()) {
            console.outLine(*line);
        }
    }
    return failed == 0 ? CommandResult::ok() : CommandResult::failed();
}

QJsonObject OperationReport::moveResult(const MoveResult& result)
{
    QJsonArray records;
    for (const MoveRecord& record : result.records) {
        records.append(record.toJson());
    }
    QJsonObject object;
    object.insert(QLatin1String("moved"), result.moved);
    object.insert(QLatin1String("failed"), result.failed);
    object.insert(QLatin1String("freedBytes"), result.freedBytes);
    object.insert(QLatin1String("errors"), QJsonArray::fromStringList(result.errors));
    object.insert(QLatin1String("records"), records);
    return object;
}

QJsonObject OperationReport::removal(qint64 deleted, qint64 failed, qint64 freedBytes, const QStringList& errors)
{
    QJsonObject object;
    object.insert(QLatin1String("deleted"), deleted);
    object.insert(QLatin1String("failed"), failed);
    object.insert(QLatin1String("freedBytes"), freedBytes);
    object.insert(QLatin1String("errors"), QJsonArray::fromStringList(errors));
    return object;
}

QJsonObject OperationReport::stats(const StorageStats& stats)
{
    QJsonObject object;
    object.insert(QLatin1String("totalFreed"), stats.totalFreed);
    object.insert(QLatin1String("eventCount"), stats.eventCount);
    object.insert(QLatin1String("lastEvent"),
                  stats.lastEvent ? QJsonValue(stats.lastEvent->toJson()) : QJsonValue(QJsonValue::Null));
    return object;
}

QJsonObject OperationReport::candidate(const SafeCleanupCandidate& candidate)
{
    QJsonObject object;
    object.insert(QLatin1String("id"), candidate.id.toString(QUuid::WithoutBraces).toUpper());
    object.insert(QLatin1String("path"), candidate.path.toString());
    object.insert(QLatin1String("label"), candidate.label);
    object.insert(QLatin1String("size"), candidate.size);
    object.insert(QLatin1String("risk"), CacheRisks::rawValue(candidate.risk));
    object.insert(QLatin1String("isSelected"), candidate.isSelected);
    return object;
}

QJsonValue OperationReport::status(const AppState& state)
{
    const std::optional<QString> line = state.statusMessage();
    return line ? QJsonValue(*line) : QJsonValue(QJsonValue::Null);
}
