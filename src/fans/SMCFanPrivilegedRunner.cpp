#include "SMCFanPrivilegedRunner.h"

#include "platform/PlatformPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <cmath>

namespace {

constexpr int pkexecDismissed = 126;
constexpr int pkexecNotAuthorized = 127;

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return !path.isEmpty() && info.isFile() && info.isExecutable();
}

} // namespace

QString SMCFanPrivilegedRunner::RunError::description() const
{
    switch (kind) {
    case Kind::helperMissing:
        return QStringLiteral("Встроенный помощник SMC не найден. Переустановите Brisko Vella.");
    case Kind::cancelled:
        return QStringLiteral("Запрос прав администратора отменён.");
    case Kind::failed:
        break;
    }
    return text;
}

SMCFanPrivilegedRunner::SMCFanPrivilegedRunner(Config config)
    : m_config(std::move(config))
{
}

QString SMCFanPrivilegedRunner::locateHelper(const QString& programFolder)
{
    const QDir folder(programFolder);
    for (const QString& candidate :
         {folder.filePath(QStringLiteral("../libexec/brisko-vella/") + helperName), folder.filePath(helperName)}) {
        if (isExecutableFile(candidate)) {
            return QDir::cleanPath(candidate);
        }
    }
    return {};
}

SMCFanPrivilegedRunner::Config SMCFanPrivilegedRunner::platformConfig()
{
    Config config;
    config.helperPath = locateHelper(PlatformPaths::executable().parent().toString());
    // Fixed places only: the program that asks for the password must not be
    // one a changed PATH slipped in.
    for (const char* candidate : {"/usr/bin/pkexec", "/bin/pkexec"}) {
        if (isExecutableFile(QLatin1String(candidate))) {
            config.pkexecPath = QLatin1String(candidate);
            break;
        }
    }
    config.termination = &TerminationFlag::process();
    config.runtimeRisk = &AppRuntimeGuard::currentRisk;
    return config;
}

bool SMCFanPrivilegedRunner::isAvailable() const
{
    return isExecutableFile(m_config.helperPath);
}

QString SMCFanPrivilegedRunner::percentArgument(double percent)
{
    if (std::isnan(percent)) {
        return QStringLiteral("0");
    }
    return QString::number(qint64(std::round(qBound(0.0, percent, 100.0))));
}

SMCFanPrivilegedRunner::RunResult SMCFanPrivilegedRunner::setFanPercent(double percent) const
{
    return run({QStringLiteral("set-percent"), percentArgument(percent)});
}

SMCFanPrivilegedRunner::RunResult SMCFanPrivilegedRunner::releaseFans() const
{
    return run({QStringLiteral("auto")});
}

SMCFanPrivilegedRunner::RunResult SMCFanPrivilegedRunner::run(const QStringList& arguments) const
{
    const auto failure = [](RunError::Kind kind, QString text = {}) {
        return RunResult{RunError{kind, std::move(text)}, {}};
    };
    if (m_config.termination && m_config.termination->isSet()) {
        return failure(RunError::Kind::cancelled);
    }
    if (m_config.runtimeRisk) {
        const AppRuntimeGuard::Risk risk = m_config.runtimeRisk();
        if (risk != AppRuntimeGuard::Risk::none) {
            return failure(RunError::Kind::failed, AppRuntimeGuard::message(risk));
        }
    }
    if (!isAvailable()) {
        return failure(RunError::Kind::helperMissing);
    }
    if (!isExecutableFile(m_config.pkexecPath)) {
        return failure(RunError::Kind::failed,
                       QStringLiteral("Не найден pkexec: запросить права администратора нечем. Установите пакет "
                                      "pkexec (polkit)."));
    }

    QProcess process;
    process.setProgram(m_config.pkexecPath);
    process.setArguments(QStringList{m_config.helperPath} + arguments);
    process.start();
    if (!process.waitForStarted(-1)) {
        return failure(RunError::Kind::failed,
                       QStringLiteral("Не удалось запустить pkexec: %1").arg(process.errorString()));
    }
    process.closeWriteChannel();
    process.waitForFinished(-1);
    const QString output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    const QString errors = QString::fromUtf8(process.readAllStandardError()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit) {
        return failure(RunError::Kind::failed, QStringLiteral("Помощник SMC завершился аварийно."));
    }
    switch (process.exitCode()) {
    case 0:
        return RunResult{std::nullopt, output};
    case pkexecDismissed:
        return failure(RunError::Kind::cancelled);
    case pkexecNotAuthorized:
        return failure(RunError::Kind::failed, pkexecRefusedMessage);
    default:
        break;
    }
    if (!errors.isEmpty()) {
        return failure(RunError::Kind::failed, errors);
    }
    if (!output.isEmpty()) {
        return failure(RunError::Kind::failed, output);
    }
    return failure(RunError::Kind::failed,
                   QStringLiteral("Помощник SMC завершился с ненулевым статусом %1.").arg(process.exitCode()));
}

QString SMCFanPrivilegedRunner::appleScriptEscaped(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return escaped;
}

QString SMCFanPrivilegedRunner::appleScriptSource(const QString& helperPath, const QStringList& arguments)
{
    QStringList escaped;
    for (const QString& argument : arguments) {
        escaped.append(appleScriptEscaped(argument));
    }
    return QStringLiteral("do shell script (quoted form of \"") + appleScriptEscaped(helperPath)
        + QStringLiteral("\") & \" ") + escaped.join(QLatin1Char(' '))
        + QStringLiteral("\" with administrator privileges");
}
