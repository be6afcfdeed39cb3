#pragma once

#include "CliSandbox.h"

#include <QJsonObject>

// A CliSandbox for the commands that change files. Every run also gets its
// own $XDG_DATA_HOME beside the home, so that the Trash lands in the sandbox
// whatever the environment of the test says, and runs offline.
class OperationSandbox
{
public:
    OperationSandbox();

    bool isValid() const { return m_cli.isValid(); }
    const CliSandbox& cli() const { return m_cli; }
    TempHome& home() { return m_cli.home(); }
    QString scratchPath(const QString& name) const { return m_cli.scratchPath(name); }
    QString dataHome() const;
    // $XDG_DATA_HOME/Trash/files and …/info.
    QString trashFiles() const;
    QString trashInfo() const;

    QProcessEnvironment environment() const;
    CliRun run(const QStringList& arguments, const QString& workingDirectory = QString()) const;
    // Runs a command that prints one JSON object and checks its exit code and
    // that standard error stayed empty; an empty object (and a warning with
    // the run) otherwise.
    QJsonObject runJson(const QStringList& arguments, int expectedExit = 0) const;
    // brisko settings set ASSIGNMENT; false (and a warning) when it fails.
    bool setSetting(const QString& assignment) const;

    // A file in the home with content of its own (the home's makeFile
    // writes the same bytes everywhere, which would hide a mix-up).
    QString makeHomeFile(const QString& relative, qint64 size);
    static QByteArray contentFor(const QString& name, qint64 size);

private:
    CliSandbox m_cli;
};
