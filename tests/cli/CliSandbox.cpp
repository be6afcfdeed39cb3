#include "CliSandbox.h"

#include <QProcess>
#include <QSignalSpy>

QString CliSandbox::program()
{
    return QStringLiteral(BRISKO_BIN);
}

QProcessEnvironment CliSandbox::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_home.path());
    // The home's layout comes from the home alone, whatever the caller's desktop says.
    for (const char* variable : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"}) {
        environment.remove(QLatin1String(variable));
    }
    environment.insert(QStringLiteral("BRISKO_DEFAULTS"), defaultsFile());
    return environment;
}

CliRun CliSandbox::run(const QStringList& arguments, const QProcessEnvironment& environment) const
{
    QProcess process;
    process.setProcessEnvironment(environment);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(program(), arguments);
    CliRun result;
    if (!process.waitForStarted()) {
        result.err = process.errorString().toUtf8();
        return result;
    }
    process.closeWriteChannel();
    // The event loop runs while waiting, so that a loopback server of the test
    // answers the program. Generous for a sanitizer build on a shared machine.
    result.finished = finished.wait(60000) && process.exitStatus() == QProcess::NormalExit;
    if (!result.finished) {
        process.kill();
        process.waitForFinished();
    }
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}
