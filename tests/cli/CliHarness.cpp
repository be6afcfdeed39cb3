#include "CliHarness.h"

#include "CliCommands.h"
#include "CommandDispatcher.h"
#include "Console.h"

#include "app/DiscardingSinks.h"
#include "platform/PlatformSystemFacts.h"
#include "platform/PlatformTrash.h"
#include "platform/PlatformVolumeSource.h"
#include "platform/PlatformWorkspace.h"
#include "platform/SettingsDefaultsStore.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QThreadPool>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

CliHarness::CliHarness()
    : m_beside(QDir::tempPath() + QStringLiteral("/brisko-cli-XXXXXX"))
    , m_clock(std::make_shared<FakeClock>())
    , m_process(ProcessServices::forApplication(*QCoreApplication::instance()))
{
}

AppEnvironment CliHarness::environment() const
{
    QProcessEnvironment variables;
    variables.insert(QStringLiteral("XDG_DATA_HOME"), scratchPath(QStringLiteral("data")));
    AppEnvironment env;
    env.home = m_home.home();
    env.layout = HomeLayout::forThisSystem(env.home, variables);
    env.fileSystem = m_process.fileSystem;
    env.defaults = std::make_shared<SettingsDefaultsStore>(defaultsFile(), QSettings::IniFormat);
    env.defaultsFile = FilePath::fromString(defaultsFile());
    env.clock = m_clock;
    env.volumes = std::make_shared<PlatformVolumeSource>(QString(), env.home);
    env.systemFacts = std::make_shared<PlatformSystemFacts>();
    env.workspace = std::make_shared<PlatformWorkspace>();
    env.trash = std::make_shared<PlatformTrash>(env.layout->trash().parent(), env.fileSystem, env.clock,
                                                TrustedRoots::resolved(*env.fileSystem, {env.home, env.layout->userCaches()}));
    env.usage = std::make_shared<DiscardingUsageSink>();
    env.errors = std::make_shared<DiscardingErrorSink>();
    // Another writer is refused at once rather than after a wait.
    env.lockWait = std::chrono::milliseconds(0);
    return env;
}

CliRun CliHarness::run(const QStringList& arguments, std::FILE* err) const
{
    // Both streams into memory, read once they are closed.
    char* out[2] = {nullptr, nullptr};
    size_t size[2] = {0, 0};
    std::FILE* streams[2] = {::open_memstream(&out[0], &size[0]), ::open_memstream(&out[1], &size[1])};
    CliRun result;
    {
        Console console(streams[0], err ? err : streams[1]);
        CommandDispatcher dispatcher(console, CliCommands::all(), m_process,
                                     [this](const ProcessServices&) { return environment(); });
        result.exitCode = dispatcher.run(arguments);
    }
    // As the program does before it ends: what the command handed to the
    // pool (saving the settings) is done before the next run reads.
    QThreadPool::globalInstance()->waitForDone();
    for (std::FILE* stream : streams) {
        std::fclose(stream);
    }
    result.finished = true;
    result.out = QByteArray(out[0], qsizetype(size[0]));
    result.err = QByteArray(out[1], qsizetype(size[1]));
    std::free(out[0]);
    std::free(out[1]);
    return result;
}

CliRun CliHarness::runWithTerminalStderr(const QStringList& arguments) const
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        qWarning("no pseudo-terminal");
        return {};
    }
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::FILE* terminal = slave < 0 ? nullptr : ::fdopen(slave, "w");
    CliRun result = terminal ? run(arguments, terminal) : CliRun{};
    if (terminal) {
        std::fclose(terminal);
    }
    // The terminal has no other writer now, so reading drains what it
    // buffered and then fails with EIO instead of blocking.
    char buffer[4096];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) {
        result.err.append(buffer, n);
    }
    ::close(master);
    // The terminal turns each line break into CR LF.
    result.err.replace("\r\n", "\n");
    return result;
}

QJsonObject CliHarness::runJson(const QStringList& arguments, int expectedExit) const
{
    const CliRun result = run(arguments);
    if (result.exitCode != expectedExit || !result.json() || !result.json()->isObject() || !result.err.isEmpty()) {
        qWarning().noquote() << arguments.join(QLatin1Char(' ')) << "expected exit" << expectedExit << "\n"
                             << QString::fromUtf8(result.describe());
        return {};
    }
    return result.json()->object();
}

bool CliHarness::setSetting(const QString& assignment) const
{
    const CliRun result = run({QStringLiteral("settings"), QStringLiteral("set"), assignment});
    if (result.exitCode != 0) {
        qWarning().noquote() << QString::fromUtf8(result.describe());
    }
    return result.exitCode == 0;
}

QJsonObject CliHarness::storedSettings() const
{
    const std::optional<QByteArray> stored =
        SettingsDefaultsStore(defaultsFile(), QSettings::IniFormat).data(QStringLiteral("BriskoSettings"));
    return stored ? QJsonDocument::fromJson(*stored).object() : QJsonObject();
}

QStringList words(const char* text)
{
    return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QJsonObject fields(std::initializer_list<std::pair<const char*, QJsonValue>> list)
{
    QJsonObject object;
    for (const auto& [key, value] : list) {
        object.insert(QLatin1String(key), value);
    }
    return object;
}

QJsonObject without(QJsonObject object, std::initializer_list<const char*> keys)
{
    for (const char* key : keys) {
        object.remove(QLatin1String(key));
    }
    return object;
}
