#include "ScanSelection.h"

#include "CliSession.h"
#include "CommandCall.h"
#include "Console.h"

QString ScanSelection::categoryList()
{
    QStringList names;
    for (ScanCategory category : ScanCategories::allCategories()) {
        names.append(ScanCategories::rawValue(category));
    }
    return names.join(QStringLiteral(", "));
}

QString ScanSelection::details()
{
    return QStringLiteral(
        "Категория сканируется заново (как brisko scan), затем берутся выбранные строки: без --only — те, что\n"
        "выбрал сканер; с --only — ровно строки с перечисленными именами (колонка «Имя» в brisko scan).\n"
        "Имя, которого нет среди найденного, — ошибка аргументов (код 2), и ничего не делается.\n"
        "Имена, начинающиеся с «-», пишите после «--».\n"
        "Ход операции выводится в поток ошибок, итог — строкой состояния; с --json итог — один объект JSON.\n"
        "Код выхода 1, если операция отклонена или хотя бы один элемент не удался.\n");
}

std::optional<ScanSelection> ScanSelection::parse(const CommandCall& call, QString* error)
{
    const QStringList& positionals = call.positionals();
    if (positionals.isEmpty()) {
        *error = QStringLiteral("не указана категория; допустимы: ") + categoryList();
        return std::nullopt;
    }
    const std::optional<ScanCategory> category = ScanCategories::fromRawValue(positionals.first());
    if (!category) {
        *error = QStringLiteral("неизвестная категория «%1»; допустимы: %2").arg(positionals.first(), categoryList());
        return std::nullopt;
    }
    ScanSelection selection;
    selection.m_category = *category;
    selection.m_json = call.json();
    selection.m_names = positionals.mid(1);
    const bool only = call.isSet(QStringLiteral("only"));
    if (only && selection.m_names.isEmpty()) {
        *error = QStringLiteral("после --only нужны имена строк");
        return std::nullopt;
    }
    if (!only && !selection.m_names.isEmpty()) {
        // Without --only a second word is more likely a second category than
        // a row name: refuse rather than act on the scanner's selection.
        *error = QStringLiteral("лишние аргументы: %1 (строки выбираются через --only)")
                     .arg(selection.m_names.join(QLatin1Char(' ')));
        return std::nullopt;
    }
    selection.m_names.removeDuplicates();
    return selection;
}

QString ScanSelection::categoryName() const
{
    return ScanCategories::rawValue(m_category);
}

std::optional<CommandResult> ScanSelection::apply(CliSession& session, Console& console) const
{
    AppState& state = session.state();
    const bool started = session.scan(m_category);
    const QString status = state.statusMessage().value_or(QString());
    if (!started) {
        console.errLine(QStringLiteral("brisko: ") + status);
        return CommandResult::failed();
    }
    if (!m_json && !status.isEmpty()) {
        console.errLine(status);
    }
    if (m_names.isEmpty()) {
        return std::nullopt;
    }

    ScanItemList named;
    QStringList unknown;
    for (const QString& name : m_names) {
        bool found = false;
        for (const ScanItem& item : state.scanItems()) {
            // Several rows may share a name (folders of that name in several
            // places): each of them is meant.
            if (item.name == name) {
                named.append(item);
                found = true;
            }
        }
        if (!found) {
            unknown.append(QStringLiteral("«") + name + QStringLiteral("»"));
        }
    }
    if (!unknown.isEmpty()) {
        return CommandResult::usageError(QStringLiteral("в результатах сканирования %1 нет строк: %2")
                                             .arg(categoryName(), unknown.join(QStringLiteral(", "))));
    }
    state.selectAll(state.scanItems(), false);
    state.selectAll(named, true);
    return std::nullopt;
}
