#pragma once

#include "CliRun.h"
#include "TempHome.h"

#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

// A throw-away home folder and defaults store for runs of the brisko
// program as a separate process, so that no test reads or writes a real
// user's files. In-process runs are CliHarness's.
class CliSandbox
{
public:
    bool isValid() const { return m_home.isValid() && m_config.isValid(); }
    TempHome& home() { return m_home; }
    const TempHome& home() const { return m_home; }
    QString defaultsFile() const { return scratchPath(QStringLiteral("defaults.ini")); }
    // A folder beside the home for files that must not be in it.
    QString scratchPath(const QString& name) const { return m_config.filePath(name); }

    // The environment of a run: this machine's, with HOME and BRISKO_DEFAULTS
    // pointing into the sandbox.
    QProcessEnvironment environment() const;

    // The event loop runs while the program does.
    CliRun run(const QStringList& arguments, const QProcessEnvironment& environment) const;
    static QString program();

private:
    TempHome m_home;
    QTemporaryDir m_config{QDir::tempPath() + QStringLiteral("/brisko-cli-XXXXXX")};
};
