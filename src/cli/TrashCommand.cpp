#include "CliCommands.h"
#include "SelectedRowsCommand.h"

#include "CliSession.h"
#include "ScanSelection.h"

namespace {

CommandResult act(CliSession& session, const ScanSelection& selection, Console& console)
{
    return SelectedRowsCommand::removeRows(session, selection, console, session.state().selectedArchiveItems().size(),
                                           [](AppState& state) { return state.deleteSelectedScanItems(); });
}

} // namespace

CliCommand CliCommands::trash()
{
    return SelectedRowsCommand::describe(
        QStringLiteral("trash"),
        QStringLiteral("перемещает выбранное из категории в Корзину"),
        QStringLiteral(
            "Корзина — по правилам freedesktop.org: $XDG_DATA_HOME/Trash (обычно ~/.local/share/Trash), для других\n"
            "дисков — корзина в корне диска. Если переместить не удалось, элемент остаётся на месте; удаления\n"
            "без Корзины нет. Кэши (appCaches, systemJunk) в Корзину не перемещаются — для них brisko clean.\n"),
        act);
}
