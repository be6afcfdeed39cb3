#pragma once

#include "CliCommand.h"

// The commands of the brisko program, each described and run in its own file.
namespace CliCommands {

CliCommand scan();
CliCommand settings();
CliCommand classify();
CliCommand disks();
CliCommand places();
CliCommand hardware();
CliCommand cooling();
CliCommand fans();
CliCommand move();
CliCommand undo();
CliCommand trash();
CliCommand clean();
CliCommand safeCleanup();
CliCommand history();
CliCommand archiveFolder();
CliCommand archive();
CliCommand sortDownloads();
CliCommand health();
CliCommand region();
CliCommand feedback();
CliCommand update();
CliCommand usage();

// Every command, in the order of the command list.
QList<CliCommand> all();

} // namespace CliCommands
