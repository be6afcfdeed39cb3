#include "CliCommands.h"
#include "CommandCall.h"

#include "Console.h"
#include "scan/CacheClassifier.h"
#include "scan/HomeLayout.h"

#include <QDir>
#include <QProcessEnvironment>

namespace {

CommandResult run(const CommandCall& call)
{
    Console& console = call.console();
    if (call.positionals().size() != 1 || call.positionals().first().isEmpty()) {
        return CommandResult::usageError(QStringLiteral("укажите один путь"));
    }
    const std::optional<QString> homeOption = call.value(QStringLiteral("home"));
    if (homeOption && homeOption->isEmpty()) {
        return CommandResult::usageError(QStringLiteral("параметру --home нужна папка"));
    }
    // The rule compares path texts; relative ones are made absolute the way
    // a shell user means them, and the rule resolves "." and ".." itself.
    const QString path = QDir::current().absoluteFilePath(call.positionals().first());
    const AppEnvironment environment = call.environment();
    const HomeLayout layout = homeOption ? HomeLayout::forThisSystem(
                                               FilePath::fromString(QDir::current().absoluteFilePath(*homeOption)),
                                               QProcessEnvironment::systemEnvironment())
                                         : environment.layout.value_or(HomeLayout::forThisSystem(environment.home, {}));
    console.outLine(CacheRisks::rawValue(CacheClassifier::classify(path, layout)));
    return CommandResult::ok();
}

} // namespace

CliCommand CliCommands::classify()
{
    return {
        .name = QStringLiteral("classify"),
        .arguments = QStringLiteral("ПУТЬ"),
        .summary = QStringLiteral("оценивает путь: safe, caution или forbidden"),
        .details = QStringLiteral(
            "Оценка строится только по тексту пути, диск не читается. Домашняя папка — $HOME, "
            "если не задана --home.\nОтносительные пути берутся от текущей папки.\n"),
        .options = {CliOption::valued(QStringLiteral("home"), QStringLiteral("ПАПКА"))},
        .run = run,
    };
}
