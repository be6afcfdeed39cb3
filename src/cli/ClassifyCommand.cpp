#include "ClassifyCommand.h"

#include "CommandArguments.h"
#include "Console.h"
#include "platform/PlatformPaths.h"
#include "scan/CacheClassifier.h"
#include "scan/HomeLayout.h"

#include <QDir>
#include <QProcessEnvironment>

QString ClassifyCommand::name() const
{
    return QStringLiteral("classify");
}

QString ClassifyCommand::synopsis() const
{
    return QStringLiteral("ПУТЬ [--home ПАПКА]");
}

QString ClassifyCommand::summary() const
{
    return QStringLiteral("оценивает путь: safe, caution или forbidden");
}

QString ClassifyCommand::details() const
{
    return QStringLiteral(
        "Оценка строится только по тексту пути, диск не читается. Домашняя папка — $HOME, "
        "если не задана --home.\nОтносительные пути берутся от текущей папки.\n");
}

CommandResult ClassifyCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<CommandArguments> parsed =
        CommandArguments::parse(arguments, {}, {QStringLiteral("--home")}, &error);
    if (!parsed) {
        return CommandResult::usageError(error);
    }
    if (parsed->positionals().size() != 1 || parsed->positionals().first().isEmpty()) {
        return CommandResult::usageError(QStringLiteral("укажите один путь"));
    }
    const std::optional<QString> homeOption = parsed->value(QStringLiteral("--home"));
    if (homeOption && homeOption->isEmpty()) {
        return CommandResult::usageError(QStringLiteral("параметру --home нужна папка"));
    }
    // The rule compares path texts; relative ones are made absolute the way
    // a shell user means them, and the rule resolves "." and ".." itself.
    const QString path = QDir::current().absoluteFilePath(parsed->positionals().first());
    const QString home = homeOption ? QDir::current().absoluteFilePath(*homeOption) : PlatformPaths::home().toString();
    const HomeLayout layout =
        HomeLayout::forThisSystem(FilePath::fromString(home), QProcessEnvironment::systemEnvironment());
    console.outLine(CacheRisks::rawValue(CacheClassifier::classify(path, layout)));
    return CommandResult::ok();
}
