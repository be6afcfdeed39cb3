#pragma once

#include "CliRun.h"
#include "FakeClock.h"
#include "TempHome.h"

#include "app/AppEnvironment.h"
#include "app/ProcessServices.h"

#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

// Runs the brisko commands in this process, as the program would with the
// arguments, on a throw-away home, defaults store and Trash, with both
// output streams captured. The home's layout comes from the home alone; the
// Trash is $XDG_DATA_HOME/Trash beside the home.
class CliHarness
{
public:
    CliHarness();

    bool isValid() const { return m_home.isValid() && m_beside.isValid(); }
    TempHome& home() { return m_home; }
    FakeClock& clock() { return *m_clock; }
    // A folder beside the home for files that must not be in it.
    QString scratchPath(const QString& name) const { return m_beside.filePath(name); }
    QString defaultsFile() const { return scratchPath(QStringLiteral("defaults.ini")); }
    QString trashFiles() const { return scratchPath(QStringLiteral("data/Trash/files")); }

    AppEnvironment environment() const;

    CliRun run(const QStringList& arguments) const { return run(arguments, nullptr); }
    // Standard error on a pseudo-terminal; CliRun::err holds what it received.
    CliRun runWithTerminalStderr(const QStringList& arguments) const;
    // A command that prints one JSON object: checks the exit code and that
    // standard error stayed empty; an empty object (and a warning) otherwise.
    QJsonObject runJson(const QStringList& arguments, int expectedExit = 0) const;
    // brisko settings set ASSIGNMENT; false (and a warning) when it fails.
    bool setSetting(const QString& assignment) const;
    // The settings as stored; an empty object when there are none.
    QJsonObject storedSettings() const;

private:
    CliRun run(const QStringList& arguments, std::FILE* err) const;

    TempHome m_home;
    QTemporaryDir m_beside;
    std::shared_ptr<FakeClock> m_clock;
    ProcessServices m_process;
};

// "a b c" as arguments.
QStringList words(const char* text);
// An object from its fields, to compare a whole result at once.
QJsonObject fields(std::initializer_list<std::pair<const char*, QJsonValue>> list);
QJsonObject without(QJsonObject object, std::initializer_list<const char*> keys);
