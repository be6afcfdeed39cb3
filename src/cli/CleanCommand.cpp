#include "CleanCommand.h"

#include "CliSession.h"
#include "ScanSelection.h"

QString CleanCommand::name() const
{
    return QStringLiteral("clean");
}

QString CleanCommand::summary() const
{
    return QStringLiteral("удаляет выбранные безопасные кэши категории appCaches или systemJunk");
}

QString CleanCommand::operationDetails() const
{
    return QStringLiteral(
        "Удаление окончательное (не в Корзину), поэтому удаляются только строки, которые классификатор\n"
        "считает безопасными («безопасно удалять, приложение пересоздаст»); остальные отклоняются.\n"
        "Символические ссылки внутри кэша удаляются сами, то, на что они указывают, не трогается.\n");
}

CommandResult CleanCommand::act(CliSession& session, const ScanSelection& selection, Console& console)
{
    return removeRows(session, selection, console, session.state().selectedCleanableScanItems().size(),
                      [](AppState& state) { return state.runSelectedScanCleanup(); });
}
