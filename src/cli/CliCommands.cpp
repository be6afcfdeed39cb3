#include "CliCommands.h"

QList<CliCommand> CliCommands::all()
{
    return {scan(), settings(), classify(), disks(), places(), hardware(), cooling(), fans(),
            move(), undo(), trash(), clean(), safeCleanup(), history(), archiveFolder(), archive(),
            sortDownloads(), health(), region(), feedback(), update(), usage()};
}
