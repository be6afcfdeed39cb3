#include "ScanCommand.h"

#include "CliInterrupt.h"
#include "CommandArguments.h"
#include "Console.h"
#include "ProgressPrinter.h"
#include "TextTable.h"
#include "app/AppState.h"
#include "platform/ByteCountFormatter.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString categoryList()
{
    QStringList names;
    for (ScanCategory category : ScanCategories::allCategories()) {
        names.append(ScanCategories::rawValue(category));
    }
    return names.join(QStringLiteral(", "));
}

} // namespace

QString ScanCommand::name() const
{
    return QStringLiteral("scan");
}

QString ScanCommand::synopsis() const
{
    return QStringLiteral("КАТЕГОРИЯ [--json]");
}

QString ScanCommand::summary() const
{
    return QStringLiteral("сканирует одну категорию в домашней папке и выводит найденное");
}

QString ScanCommand::details() const
{
    QString text = QStringLiteral("Категории:\n");
    for (ScanCategory category : ScanCategories::allCategories()) {
        text += QStringLiteral("  %1 — %2\n").arg(ScanCategories::rawValue(category),
                                                   ScanCategories::title(category, nullptr));
    }
    text += QStringLiteral("\nПороги берутся из настроек (brisko settings). Ход сканирования выводится "
                           "в поток ошибок; с --json результат — один объект JSON.\n");
    return text;
}

CommandResult ScanCommand::run(const QStringList& arguments, Console& console)
{
    QString error;
    const std::optional<CommandArguments> parsed =
        CommandArguments::parse(arguments, {QStringLiteral("--json")}, {}, &error);
    if (!parsed) {
        return CommandResult::usageError(error);
    }
    if (parsed->positionals().size() != 1) {
        return CommandResult::usageError(parsed->positionals().isEmpty()
                                             ? QStringLiteral("не указана категория; допустимы: ") + categoryList()
                                             : QStringLiteral("сканируется ровно одна категория"));
    }
    const QString raw = parsed->positionals().first();
    const std::optional<ScanCategory> category = ScanCategories::fromRawValue(raw);
    if (!category) {
        return CommandResult::usageError(
            QStringLiteral("неизвестная категория «%1»; допустимы: %2").arg(raw, categoryList()));
    }
    const bool json = parsed->hasFlag(QStringLiteral("--json"));

    AppState state(AppEnvironment::platform(process()));
    ProgressPrinter progress(console);
    if (!json) {
        QObject::connect(&state, &AppState::scanProgressChanged, &state,
                         [&progress, &state] { progress.show(state.scanProgress()); });
    }

    // Ctrl+C stops the walk; a second one ends the program. One heard after
    // the results are out stops nothing.
    bool stopped = false;
    const std::function<void()> stopping = CliInterrupt::stopping(state, &console);
    const CliInterrupt interrupt([&] {
        stopped = stopped || state.isBusy();
        stopping();
    });
    const QFuture<void> scan = state.runScan({*category});
    QEventLoop loop;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(scan);
    if (!scan.isFinished()) {
        loop.exec();
    }
    progress.finish();

    // A refused scan leaves its reason in the status line and publishes no
    // results; the state is fresh here, so this only guards future changes.
    const std::optional<QString> status = state.statusMessage();
    if (status == AppState::busyMessage || status == AppState::oneCategoryMessage) {
        console.errLine(QStringLiteral("brisko: ") + *status);
        return CommandResult::failed();
    }

    if (json) {
        printJson(state, raw, console);
    } else {
        printTable(state, console);
    }
    return stopped ? CommandResult::stopped() : CommandResult::ok();
}

void ScanCommand::printJson(const AppState& state, const QString& category, Console& console)
{
    QJsonArray items;
    for (const ScanItem& item : state.scanItems()) {
        QJsonObject row;
        row.insert(QLatin1String("name"), item.name);
        // Names that are not valid UTF-8 come out with replacement
        // characters: good for reading, not for reaching the file.
        row.insert(QLatin1String("path"), item.path.toString());
        row.insert(QLatin1String("size"), item.size);
        row.insert(QLatin1String("category"), ScanCategories::rawValue(item.category));
        row.insert(QLatin1String("isDirectory"), item.isDirectory);
        row.insert(QLatin1String("isSelected"), item.isSelected);
        row.insert(QLatin1String("detail"), item.detail ? QJsonValue(*item.detail) : QJsonValue(QJsonValue::Null));
        items.append(row);
    }
    QJsonObject result;
    result.insert(QLatin1String("category"), category);
    const std::optional<QString> status = state.statusMessage();
    result.insert(QLatin1String("status"), status ? QJsonValue(*status) : QJsonValue(QJsonValue::Null));
    result.insert(QLatin1String("totalBytes"), state.totalScanSize());
    result.insert(QLatin1String("items"), items);
    console.printJson(QJsonDocument(result));
}

void ScanCommand::printTable(const AppState& state, Console& console)
{
    const ScanItemList& items = state.scanItems();
    if (!items.isEmpty()) {
        TextTable table({TextTable::Align::left, TextTable::Align::right, TextTable::Align::left,
                         TextTable::Align::left});
        table.addRow({QStringLiteral("Выбор"), QStringLiteral("Размер"), QStringLiteral("Имя"),
                      QStringLiteral("Детали")});
        for (const ScanItem& item : items) {
            QString name = item.name;
            if (item.isDirectory) {
                name += QLatin1Char('/');
            }
            table.addRow({item.isSelected ? QStringLiteral("[x]") : QStringLiteral("[ ]"),
                          ByteCountFormatter::format(item.size), name, item.detail.value_or(QString())});
        }
        console.out(table.render());
        console.out(QStringLiteral("\n"));
    }
    if (const std::optional<QString> status = state.statusMessage()) {
        console.outLine(*status);
    }
}
