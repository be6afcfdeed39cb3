#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Stand-ins for pkexec and the helper in a temporary folder: shell scripts
// that record the arguments they were started with and end the way a test
// asks, so the runner's handling of each outcome runs against real processes.
class FakePkexec
{
public:
    // pkexec that runs its arguments as a command (as after a granted
    // password), or that ends with the given status without running anything.
    QString passThrough() { return script("pkexec", "exec \"$@\"\n"); }
    QString endingWith(int status, const QByteArray& standardError = {})
    {
        return script("pkexec", "printf '%s' " + quoted(standardError) + " >&2\nexit " + QByteArray::number(status) + '\n');
    }
    // A helper that records its arguments, prints out and err, and ends with status.
    QString helper(int status = 0, const QByteArray& out = {}, const QByteArray& err = {})
    {
        return script("brisko-smc-helper", "printf '%s' " + quoted(out) + "\nprintf '%s' " + quoted(err)
                                               + " >&2\nexit " + QByteArray::number(status) + '\n');
    }
    // Path of a file that does not exist.
    QString missing() const { return m_dir.filePath(QStringLiteral("no-such-program")); }

    // One line per run of the helper or pkexec: the arguments joined by blanks.
    QStringList helperRuns() const { return runs("brisko-smc-helper"); }
    QStringList pkexecRuns() const { return runs("pkexec"); }

private:
    static QByteArray quoted(QByteArray text) { return '\'' + text.replace('\'', "'\\''") + '\''; }
    QString log(const char* name) const { return m_dir.filePath(QLatin1String(name) + QStringLiteral(".log")); }
    QString script(const char* name, const QByteArray& body)
    {
        QFile file(m_dir.filePath(QLatin1String(name)));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write("#!/bin/sh\necho \"$*\" >> " + quoted(log(name).toUtf8()) + '\n' + body);
            file.close();
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
        return file.fileName();
    }
    QStringList runs(const char* name) const
    {
        QFile file(log(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                                              : QStringList();
    }

    QTemporaryDir m_dir;
};
