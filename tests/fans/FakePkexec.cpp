#include "FakePkexec.h"

#include <QFile>

namespace {

QStringList lines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList result;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.isEmpty()) {
            result.append(QString::fromUtf8(line));
        }
    }
    return result;
}

QByteArray shellQuoted(const QByteArray& text)
{
    QByteArray quoted = text;
    quoted.replace('\'', "'\\''");
    return '\'' + quoted + '\'';
}

} // namespace

FakePkexec::FakePkexec() = default;

QString FakePkexec::script(const QString& name, const QByteArray& body)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write("#!/bin/sh\n" + body);
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    return path;
}

QString FakePkexec::passThrough()
{
    const QByteArray log = shellQuoted(m_dir.filePath(QStringLiteral("pkexec.log")).toUtf8());
    return script(QStringLiteral("pkexec"), "echo \"$*\" >> " + log + "\nexec \"$@\"\n");
}

QString FakePkexec::endingWith(int status, const QByteArray& standardError)
{
    const QByteArray log = shellQuoted(m_dir.filePath(QStringLiteral("pkexec.log")).toUtf8());
    return script(QStringLiteral("pkexec"), "echo \"$*\" >> " + log + "\nprintf '%s' " + shellQuoted(standardError)
                                                 + " >&2\nexit " + QByteArray::number(status) + "\n");
}

QString FakePkexec::helper(int status, const QByteArray& out, const QByteArray& err)
{
    const QByteArray log = shellQuoted(m_dir.filePath(QStringLiteral("helper.log")).toUtf8());
    return script(QStringLiteral("brisko-smc-helper"), "echo \"$*\" >> " + log + "\nprintf '%s' " + shellQuoted(out)
                                                           + "\nprintf '%s' " + shellQuoted(err) + " >&2\nexit "
                                                           + QByteArray::number(status) + "\n");
}

QStringList FakePkexec::helperRuns() const
{
    return lines(m_dir.filePath(QStringLiteral("helper.log")));
}

QStringList FakePkexec::pkexecRuns() const
{
    return lines(m_dir.filePath(QStringLiteral("pkexec.log")));
}
