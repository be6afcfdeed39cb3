#pragma once

#include "TerminationFlag.h"
#include "model/AppRuntimeGuard.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// Runs the SMC helper with administrator rights when the program cannot
// write the SMC itself. On Linux the request goes through pkexec, whose
// authentication agent asks for the password; the helper gets an argument
// vector, never a shell command line.
//
// Every request blocks the calling (main) thread until the dialog and the
// helper have finished, which keeps the dialog in front of the window.
class SMCFanPrivilegedRunner
{
public:
    struct RunError
    {
        enum class Kind { failed, helperMissing, cancelled };
        Kind kind = Kind::failed;
        // The message of a failure.
        QString text;

        QString description() const;
        bool operator==(const RunError& other) const = default;
    };

    struct RunResult
    {
        std::optional<RunError> error;
        // The helper's standard output on success.
        QString output;

        bool ok() const { return !error.has_value(); }
    };

    struct Config
    {
        // Absolute path of brisko-smc-helper; empty when it was not found.
        QString helperPath;
        // Absolute path of pkexec; empty when it is not installed.
        QString pkexecPath;
        TerminationFlag* termination = nullptr;
        std::function<AppRuntimeGuard::Risk()> runtimeRisk;
    };

    static inline const QString helperName = QStringLiteral("brisko-smc-helper");
    static inline const QString pkexecRefusedMessage = QStringLiteral(
        "Авторизация отклонена, или не запущен агент аутентификации polkit — запрос прав администратора не показан.");

    explicit SMCFanPrivilegedRunner(Config config);

    // The helper installed beside this program (…/libexec/brisko-vella/ or
    // the program's own folder), pkexec from the system folders, the
    // process-wide termination flag and the install-location guard.
    static Config platformConfig();
    static QString locateHelper(const QString& programFolder);

    const Config& config() const { return m_config; }

    // The helper exists and is executable.
    bool isAvailable() const;

    // "set-percent" with the percentage clamped to 0…100 and rounded half
    // away from zero.
    RunResult setFanPercent(double percent) const;
    // Hands the fans back to the system ("auto").
    RunResult releaseFans() const;
    // The request itself.
    RunResult run(const QStringList& arguments) const;

    static QString percentArgument(double percent);

    // For the AppleScript form of the request on macOS: a text made safe to
    // sit between double quotes of an AppleScript string literal.
    static QString appleScriptEscaped(const QString& text);
    // do shell script (quoted form of "<path>") & " <arguments>" with
    // administrator privileges
    static QString appleScriptSource(const QString& helperPath, const QStringList& arguments);

private:
    Config m_config;
};

using SMCFanPrivilegedRunnerPtr = std::shared_ptr<const SMCFanPrivilegedRunner>;
