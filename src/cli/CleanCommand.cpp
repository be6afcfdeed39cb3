#include "CliCommands.h"
#include "SelectedRowsCommand.h"

#include "CliSession.h"
#include "ScanSelection.h"

namespace {

CommandResult act(CliSession& session, const ScanSelection& selection, Console& console)
{
    return SelectedRowsCommand::removeRows(session, selection, console, session.state().selectedCleanableScanItems().size(),
                                           [](AppState& state) { return state.runSelectedScanCleanup(); });
}

} // namespace

CliCommand CliCommands::clean()
{
    return SelectedRowsCommand::describe(
        QStringLiteral("clean"),
        QStringLiteral("удаляет выбранные безопасные кэши категории appCaches или systemJunk"),
        QStringLiteral(
            "Удаление окончательное (не в Корзину), поэтому удаляются только строки, которые классификатор\n"
            "считает безопасными («безопасно удалять, приложение пересоздаст»); остальные отклоняются.\n"
            "Символические ссылки внутри кэша удаляются сами, то, на что они указывают, не трогается.\n"),
        act);
}
