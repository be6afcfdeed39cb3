#pragma once

#include "CommandResult.h"

#include <QList>
#include <QString>

#include <functional>

class CommandCall;

// One option of a command, "--json" or "--home ПАПКА".
struct CliOption
{
    // Without the dashes.
    QString name{};
    // What follows the option in the usage line; may be empty.
    QString valueName{};
    // False for a flag, even one whose usage line names the words that go
    // with it ("--only ИМЯ…": the names are positional arguments).
    bool takesValue = false;

    static CliOption flag(const QString& name, const QString& shownWords = {}) { return {name, shownWords, false}; }
    static CliOption valued(const QString& name, const QString& valueName) { return {name, valueName, true}; }
};

// One subcommand of the brisko program: what it is called and takes, which
// the dispatcher parses and shows in the help, and what it does.
struct CliCommand
{
    // The word that selects the command ("scan").
    QString name;
    // The positional arguments for the usage line ("КАТЕГОРИЯ"); the options
    // follow them there.
    QString arguments{};
    // One line for the command list.
    QString summary{};
    // Further lines for "brisko help NAME"; may be empty.
    QString details{};
    QList<CliOption> options{};
    // The words after the name reach the command unparsed, as positional
    // arguments: its values may start with a dash.
    bool wordsOnly = false;
    std::function<CommandResult(const CommandCall&)> run{};

    // Arguments and options, as the usage line shows them.
    QString synopsis() const;
};
