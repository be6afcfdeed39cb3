#include "TrashCommand.h"

#include "CliSession.h"
#include "ScanSelection.h"

QString TrashCommand::name() const
{
    return QStringLiteral("trash");
}

QString TrashCommand::summary() const
{
    return QStringLiteral("перемещает выбранное из категории в Корзину");
}

QString TrashCommand::operationDetails() const
{
    return QStringLiteral(
        "Корзина — по правилам freedesktop.org: $XDG_DATA_HOME/Trash (обычно ~/.local/share/Trash), для других\n"
        "дисков — корзина в корне диска. Если переместить не удалось, элемент остаётся на месте; удаления\n"
        "без Корзины нет. Кэши (appCaches, systemJunk) в Корзину не перемещаются — для них brisko clean.\n");
}

CommandResult TrashCommand::act(CliSession& session, const ScanSelection& selection, Console& console)
{
    return removeRows(session, selection, console, session.state().selectedArchiveItems().size(),
                      [](AppState& state) { return state.deleteSelectedScanItems(); });
}
