#include "CoolingCommand.h"

#include "CommandArguments.h"
#include "Console.h"
#include "TextTable.h"
#include "app/DiscardingSinks.h"
#include "base/TemperatureText.h"
#include "fans/FanControlService.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QJsonDocument>

QString CoolingCommand::name() const
{
    return QStringLiteral("cooling");
}

QString CoolingCommand::synopsis() const
{
    return QStringLiteral("[--json]");
}

QString CoolingCommand::summary() const
{
    return QStringLiteral("температура и обороты вентиляторов через Apple SMC");
}

QString CoolingCommand::details() const
{
    return QStringLiteral("С --json выводится снимок с полями fans, temperatures, maxTemperature, isControllable и "
                          "note.\n"
                          "Переменная BRISKO_SMC выбирает другой SMC: sim:intel, sim:m1-m4, sim:m5, sim:fanless "
                          "(симулятор; с «:readonly» запись запрещена), applesmc:КОРЕНЬ или none.\n"
                          "Код выхода 1, если Apple SMC недоступен.\n");
}

void CoolingCommand::waitFor(const QFuture<void>& future)
{
    if (future.isFinished()) {
        return;
    }
    QEventLoop loop;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished()) {
        loop.exec();
    }
}

QString CoolingCommand::describe(const CoolingSnapshot& snapshot)
{
    QString text;
    text += QStringLiteral("Температура");
    if (snapshot.maxTemperature) {
        text += QStringLiteral(" (макс. ") + TemperatureText::celsius(*snapshot.maxTemperature, 0) + QLatin1Char(')');
    }
    text += QStringLiteral(":\n");
    if (snapshot.temperatures.isEmpty()) {
        text += QStringLiteral("  Датчики не ответили — попробуйте перезапустить вкладку.\n");
    } else {
        TextTable table({TextTable::Align::left, TextTable::Align::left, TextTable::Align::right});
        for (const TemperatureReading& reading : snapshot.temperatures) {
            table.addRow({QStringLiteral(" "), reading.label,
                          TemperatureText::celsius(reading.celsius, 1)});
        }
        text += table.render();
    }
    text += QStringLiteral("Вентиляторы:\n");
    if (snapshot.fans.isEmpty()) {
        text += QStringLiteral("  Нет данных об оборотах.\n");
    } else {
        TextTable table({TextTable::Align::left, TextTable::Align::left, TextTable::Align::right,
                         TextTable::Align::left});
        for (const FanStatus& fan : snapshot.fans) {
            QString range = QStringLiteral("мин. %1").arg(fan.minimumRPM);
            if (fan.targetRPM) {
                range += QStringLiteral(", цель %1").arg(*fan.targetRPM);
            }
            range += QStringLiteral(", макс. %1").arg(fan.maximumRPM);
            table.addRow({QStringLiteral(" "), fan.name, QStringLiteral("%1 RPM").arg(fan.currentRPM), range});
        }
        text += table.render();
    }
    if (snapshot.note) {
        text += *snapshot.note + QLatin1Char('\n');
    }
    return text;
}

CommandResult CoolingCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<CommandArguments> parsed = CommandArguments::parseFlagsOnly(arguments, {QStringLiteral("--json")}, &error);
    if (!parsed) {
        return CommandResult::usageError(error);
    }

    FanControlService service(FanControlEnvironment::platform(std::make_shared<DiscardingErrorSink>()));
    waitFor(service.refreshSnapshot());
    const CoolingSnapshot& snapshot = service.snapshot();

    if (parsed->hasFlag(QStringLiteral("--json"))) {
        console.printJson(QJsonDocument(snapshot.toJsonObject()));
    } else {
        console.out(describe(snapshot));
    }
    if (service.lastError()) {
        console.errLine(QStringLiteral("brisko: ") + *service.lastError());
    }
    const bool unavailable = snapshot.fans.isEmpty() && snapshot.temperatures.isEmpty()
        && snapshot.note == CoolingSnapshotReader::unavailableNote;
    return unavailable ? CommandResult::failed() : CommandResult::ok();
}
