#include "OperationSandbox.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

OperationSandbox::OperationSandbox() = default;

QString OperationSandbox::dataHome() const
{
    return m_cli.scratchPath(QStringLiteral("data"));
}

QString OperationSandbox::trashFiles() const
{
    return dataHome() + QStringLiteral("/Trash/files");
}

QString OperationSandbox::trashInfo() const
{
    return dataHome() + QStringLiteral("/Trash/info");
}

QProcessEnvironment OperationSandbox::environment() const
{
    QProcessEnvironment environment = m_cli.environment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome());
    // Failures are reported to the maker's server otherwise; a test sends nothing.
    environment.insert(QStringLiteral("BRISKO_OFFLINE"), QStringLiteral("1"));
    return environment;
}

CliRun OperationSandbox::run(const QStringList& arguments, const QString& workingDirectory) const
{
    return m_cli.run(arguments, environment(), workingDirectory);
}

QJsonObject OperationSandbox::runJson(const QStringList& arguments, int expectedExit) const
{
    const CliRun result = run(arguments);
    if (!result.finished || result.exitCode != expectedExit || !result.json() || !result.json()->isObject()
        || !result.err.isEmpty()) {
        qWarning().noquote() << arguments.join(QLatin1Char(' ')) << "expected exit" << expectedExit << "\n"
                             << QString::fromUtf8(result.describe());
        return {};
    }
    return result.json()->object();
}

bool OperationSandbox::setSetting(const QString& assignment) const
{
    const CliRun result = run({QStringLiteral("settings"), QStringLiteral("set"), assignment});
    if (!result.finished || result.exitCode != 0) {
        qWarning().noquote() << QString::fromUtf8(result.describe());
        return false;
    }
    return true;
}

QByteArray OperationSandbox::contentFor(const QString& name, qint64 size)
{
    // A hash chain seeded by the name: different for every file, the same on every run.
    QByteArray content;
    content.reserve(size);
    QByteArray block = name.toUtf8();
    while (content.size() < size) {
        block = QCryptographicHash::hash(block, QCryptographicHash::Sha256);
        content.append(block);
    }
    content.truncate(size);
    return content;
}

QString OperationSandbox::makeHomeFile(const QString& relative, qint64 size)
{
    const QString absolute = home().filePath(relative);
    QDir().mkpath(QFileInfo(absolute).path());
    QFile file(absolute);
    if (!file.open(QIODevice::WriteOnly) || file.write(contentFor(relative, size)) != size) {
        qFatal("OperationSandbox: cannot write %s", qPrintable(absolute));
    }
    return absolute;
}
