#include "CliSandbox.h"

#include "platform/SettingsDefaultsStore.h"

#include <QFile>
#include <QProcess>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace {

// Generous for a sanitizer build on a shared machine; a run takes well
// under a second normally.
constexpr int runTimeoutMs = 60000;

const QString settingsKey = QStringLiteral("BriskoSettings");

} // namespace

CliSandbox::CliSandbox()
    : m_config(QDir::tempPath() + QStringLiteral("/brisko-cli-XXXXXX"))
{
}

QString CliSandbox::program()
{
    return QStringLiteral(BRISKO_BIN);
}

QString CliSandbox::defaultsFile() const
{
    return m_config.filePath(QStringLiteral("defaults.ini"));
}

QString CliSandbox::scratchPath(const QString& name) const
{
    return m_config.filePath(name);
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

CliRun CliSandbox::run(const QStringList& arguments) const
{
    return run(arguments, environment());
}

CliRun CliSandbox::run(const QStringList& arguments, const QProcessEnvironment& environment,
                       const QString& workingDirectory) const
{
    QProcess process;
    process.setProcessEnvironment(environment);
    if (!workingDirectory.isEmpty()) {
        process.setWorkingDirectory(workingDirectory);
    }
    process.start(program(), arguments);
    CliRun result;
    if (!process.waitForStarted(runTimeoutMs)) {
        result.err = process.errorString().toUtf8();
        return result;
    }
    process.closeWriteChannel();
    result.finished = process.waitForFinished(runTimeoutMs) && process.exitStatus() == QProcess::NormalExit;
    if (!result.finished) {
        process.kill();
        process.waitForFinished(runTimeoutMs);
    }
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

CliRun CliSandbox::runWithTerminalStderr(const QStringList& arguments) const
{
    CliRun result;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        if (master >= 0) {
            ::close(master);
        }
        result.err = "no pseudo-terminal";
        return result;
    }
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        ::close(master);
        result.err = "no pseudo-terminal";
        return result;
    }

    QProcess process;
    process.setProcessEnvironment(environment());
    // dup2 clears close-on-exec on the copy, so only stderr reaches the child.
    process.setChildProcessModifier([slave] { ::dup2(slave, STDERR_FILENO); });
    process.start(program(), arguments);
    const bool started = process.waitForStarted(runTimeoutMs);
    ::close(slave);
    if (started) {
        process.closeWriteChannel();
        result.finished = process.waitForFinished(runTimeoutMs) && process.exitStatus() == QProcess::NormalExit;
        if (!result.finished) {
            process.kill();
            process.waitForFinished(runTimeoutMs);
        }
    }
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    // The child is gone, so reading drains what the terminal buffered and
    // then fails with EIO instead of blocking.
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        result.err.append(buffer, n);
    }
    ::close(master);
    return result;
}

std::optional<QByteArray> CliSandbox::defaultsFileBytes() const
{
    QFile file(defaultsFile());
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll();
}

std::optional<QByteArray> CliSandbox::storedSettings() const
{
    return SettingsDefaultsStore(defaultsFile(), QSettings::IniFormat).data(settingsKey);
}

void CliSandbox::storeSettings(const QByteArray& value) const
{
    SettingsDefaultsStore(defaultsFile(), QSettings::IniFormat).setData(settingsKey, value);
}
