#pragma once

#include "CommandResult.h"

#include <QStringList>

class Console;
struct ProcessServices;

// One subcommand of the brisko program.
class CliCommand
{
public:
    // process: what main made once for the whole run (the file system, the
    // transport to the maker's server and its gate); it outlives the command.
    explicit CliCommand(const ProcessServices& process)
        : m_process(process)
    {
    }
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

protected:
    const ProcessServices& process() const { return m_process; }

private:
    const ProcessServices& m_process;
};
