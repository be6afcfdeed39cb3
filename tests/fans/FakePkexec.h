#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Stand-ins for pkexec and the helper in a temporary folder: shell scripts
// that record the arguments they were started with and end the way a test
// asks, so the runner's handling of each outcome runs against real processes.
class FakePkexec
{
public:
    FakePkexec();

    bool isValid() const { return m_dir.isValid(); }

    // pkexec that runs its arguments as a command (as after a granted
    // password), or that ends with the given status without running anything.
    QString passThrough();
    QString endingWith(int status, const QByteArray& standardError = {});
    // A helper that records its arguments, prints out and err, and ends with status.
    QString helper(int status = 0, const QByteArray& out = {}, const QByteArray& err = {});
    // Path of a file that does not exist.
    QString missing() const { return m_dir.filePath(QStringLiteral("no-such-program")); }

    // One line per run of the helper or pkexec: the arguments joined by blanks.
    QStringList helperRuns() const;
    QStringList pkexecRuns() const;

private:
    QString script(const QString& name, const QByteArray& body);

    QTemporaryDir m_dir;
};
