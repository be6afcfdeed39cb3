#pragma once

#include "CliRun.h"
#include "TempHome.h"

#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

// A throw-away home folder and defaults store for runs of the brisko
// program, so that no test reads or writes a real user's files.
class CliSandbox
{
public:
    CliSandbox();

    bool isValid() const { return m_home.isValid() && m_config.isValid(); }
    TempHome& home() { return m_home; }
    const TempHome& home() const { return m_home; }
    QString defaultsFile() const;
    // A folder beside the home for files that must not be in it.
    QString scratchPath(const QString& name) const;

    // The environment of a run: this machine's, with HOME and BRISKO_DEFAULTS
    // pointing into the sandbox.
    QProcessEnvironment environment() const;

    CliRun run(const QStringList& arguments) const;
    CliRun run(const QStringList& arguments, const QProcessEnvironment& environment,
               const QString& workingDirectory = QString()) const;
    // Runs with standard error on a pseudo-terminal; CliRun::err then holds
    // what the terminal received.
    CliRun runWithTerminalStderr(const QStringList& arguments) const;

    // The raw store file; nothing when it does not exist.
    std::optional<QByteArray> defaultsFileBytes() const;
    // The settings value as the program stored it.
    std::optional<QByteArray> storedSettings() const;
    void storeSettings(const QByteArray& value) const;

    static QString program();

private:
    TempHome m_home;
    QTemporaryDir m_config;
};
