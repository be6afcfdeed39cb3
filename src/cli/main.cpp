#include "ArchiveFolderCommand.h"
#include "ArchiveCommand.h"
#include "ClassifyCommand.h"
#include "CleanCommand.h"
#include "CommandDispatcher.h"
#include "Console.h"
#include "CoolingCommand.h"
#include "DisksCommand.h"
#include "FeedbackCommand.h"
#include "FansCommand.h"
#include "HardwareCommand.h"
#include "HealthCommand.h"
#include "HistoryCommand.h"
#include "MoveCommand.h"
#include "SafeCleanupCommand.h"
#include "RegionCommand.h"
#include "ScanCommand.h"
#include "SettingsCommand.h"
#include "SortDownloadsCommand.h"
#include "TrashCommand.h"
#include "UndoCommand.h"
#include "UpdateCommand.h"
#include "UsageCommand.h"

#include <QCoreApplication>
#include <QThreadPool>

int main(int argc, char* argv[])
{
    // The scan publishes its results through the event loop, as in the window.
    QCoreApplication application(argc, argv);

    Console console;
    CommandDispatcher dispatcher(console);
    dispatcher.add(std::make_unique<ScanCommand>());
    dispatcher.add(std::make_unique<SettingsCommand>());
    dispatcher.add(std::make_unique<ClassifyCommand>());
    dispatcher.add(std::make_unique<DisksCommand>());
    dispatcher.add(std::make_unique<HardwareCommand>());
    dispatcher.add(std::make_unique<CoolingCommand>());
    dispatcher.add(std::make_unique<FansCommand>());
    dispatcher.add(std::make_unique<MoveCommand>());
    dispatcher.add(std::make_unique<UndoCommand>());
    dispatcher.add(std::make_unique<TrashCommand>());
    dispatcher.add(std::make_unique<CleanCommand>());
    dispatcher.add(std::make_unique<SafeCleanupCommand>());
    dispatcher.add(std::make_unique<HistoryCommand>());
    dispatcher.add(std::make_unique<ArchiveFolderCommand>());
    dispatcher.add(std::make_unique<ArchiveCommand>());
    dispatcher.add(std::make_unique<SortDownloadsCommand>());
    dispatcher.add(std::make_unique<HealthCommand>());
    dispatcher.add(std::make_unique<RegionCommand>());
    dispatcher.add(std::make_unique<FeedbackCommand>());
    dispatcher.add(std::make_unique<UpdateCommand>());
    dispatcher.add(std::make_unique<UsageCommand>());

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const int exitCode = dispatcher.run(arguments);

    // Saving the settings hands work to the pool; let it end before the
    // objects it uses go away.
    QThreadPool::globalInstance()->waitForDone();
    return exitCode;
}
