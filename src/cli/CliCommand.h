#pragma once

#include "CommandResult.h"

#include <QStringList>

class Console;

// One subcommand of the brisko program.
class CliCommand
{
public:
    virtual ~CliCommand() = default;

    // The word that selects the command ("scan").
    virtual QString name() const = 0;
    // Arguments after the name, for the usage line ("CATEGORY [--json]").
    virtual QString synopsis() const = 0;
    // One line for the command list.
    virtual QString summary() const = 0;
    // Further lines for "brisko help NAME"; may be empty.
    virtual QString details() const { return {}; }

    // arguments excludes the command's name. "--help" has been handled
    // already.
    virtual CommandResult run(const QStringList& arguments, Console& console) = 0;
};
