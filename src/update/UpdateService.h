#pragma once

#include "AppUpdateInfo.h"
#include "model/ErrorReportSink.h"
#include "server/HttpTransport.h"
#include "UpdateDeployment.h"
#include "UpdateInstaller.h"
#include "UpdatePhase.h"
#include "base/Outcome.h"
#include "platform/FileSystem.h"

#include <QFuture>
#include <QPromise>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// Checks the maker's server for a newer build, downloads its image into the
// updates folder, verifies the image's SHA-256 and has the installer put it
// in place of the running copy, then relaunches into it.
//
// Trust: the version file and the download are requested only over HTTPS
// from the deployment's hosts (every redirect too), the download is capped in
// size and time, nothing is unpacked before the checksum matched, and the
// installer accepts only a bundle signed with the deployment's key for the
// offered build.
//
// Lives on the main thread, like its transport; every published field
// changes there and announces itself through its NOTIFY signal. Each
// operation's future finishes after everything it changes has been
// published. Failures are reported to the error sink under the feature
// "update" with the context {"phase": check | manifest | download | install}.
//
// The program makes its instance with forPlatform(); tests construct one
// with their own installer and deployment.
class UpdateService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(std::optional<AppUpdateInfo> availableUpdate READ availableUpdate NOTIFY availableUpdateChanged)
    Q_PROPERTY(bool isChecking READ isChecking NOTIFY isCheckingChanged)
    Q_PROPERTY(std::optional<QString> lastCheckError READ lastCheckError NOTIFY lastCheckErrorChanged)
    Q_PROPERTY(UpdatePhase phase READ phase NOTIFY phaseChanged)

public:
    static constexpr std::chrono::milliseconds checkTimeout{15000};
    static constexpr qint64 maxVersionFileBytes = qint64(1) << 20;

    // How the new copy is started and this process ends. By default the
    // program is started detached with no arguments and the application's
    // event loop is asked to quit with status 0 (so settings are flushed
    // normally; nothing replaces the process image).
    struct Relaunch
    {
        QStringList arguments;
        std::function<bool(const QString& program, const QStringList& arguments)> start;
        std::function<void()> quit;
        // Between appWillRelaunchForUpdate and the start of the new copy: the
        // window has this long to show that it is about to restart.
        std::chrono::milliseconds delay{350};
    };

    UpdateService(QPointer<HttpTransport> transport, ErrorReportSinkPtr errors,
                  std::shared_ptr<UpdateInstaller> installer, UpdateDeployment deployment,
                  QObject* parent = nullptr);

    // The program's instance: the production deployment (maker's hosts, bundle
    // identifier, compiled-in signing key, this build) and the installer of
    // the per-user installation under ~/.local/share/brisko-vella. Owned by
    // parent; transport, file system and errors (ServerServices::errorReporter)
    // are the process's.
    static UpdateService* forPlatform(QPointer<HttpTransport> transport, FileSystemPtr fileSystem,
                                      ErrorReportSinkPtr errors, QObject* parent);

    // The version check. An address that does not parse changes nothing;
    // one that is not HTTPS on an allowed host is never requested.
    QFuture<void> check(const QString& configURL);
    // Downloads and verifies the available update; a new download may start
    // from any phase.
    QFuture<void> downloadUpdate();
    // Installs the verified download and relaunches into it. Where the copy
    // cannot replace itself the phase fails with installInstructions().
    QFuture<void> installDownloadedUpdate();
    void dismissUpdate();

    bool canInstallInPlace() const;
    QString installInstructions() const;

    const std::optional<AppUpdateInfo>& availableUpdate() const { return m_availableUpdate; }
    bool isChecking() const { return m_isChecking; }
    const std::optional<QString>& lastCheckError() const { return m_lastCheckError; }
    const UpdatePhase& phase() const { return m_phase; }
    const UpdateDeployment& deployment() const { return m_deployment; }

    void setDownloadLimits(qint64 maxBytes, std::chrono::milliseconds timeout);
    void setRelaunch(Relaunch relaunch);

    // Reads the whole file and compares its SHA-256 with the expected digest
    // (trimmed, any case). An error message, or nothing when it matches.
    static Outcome<void> verifyDownloadedUpdate(const QString& path, const std::optional<QString>& expected);

Q_SIGNALS:
    void availableUpdateChanged();
    void isCheckingChanged();
    void lastCheckErrorChanged();
    void phaseChanged();
    // Emitted on the main thread just before the relaunch (the
    // "<bundle identifier>.willRelaunchForUpdate" notification); the new copy
    // is started 0.35 s later and the event loop then quits. Observers (the
    // fan service) must finish quickly.
    void appWillRelaunchForUpdate();

private:
    void finishCheck(const HttpResponse& response);
    void failCheck(const QString& message, const QMap<QString, QString>& context);
    void failPhase(const QString& message, const QString& reportPhase);
    void finishDownload(const HttpResponse& response, const AppUpdateInfo& update, const QString& destination);
    void relaunchInstalledApp(const QString& executable, const std::shared_ptr<QPromise<void>>& promise);
    void setAvailableUpdate(const std::optional<AppUpdateInfo>& update);
    void setIsChecking(bool checking);
    void setLastCheckError(const std::optional<QString>& error);
    void setPhase(const UpdatePhase& phase);

    QPointer<HttpTransport> m_transport;
    ErrorReportSinkPtr m_errors;
    std::shared_ptr<UpdateInstaller> m_installer;
    UpdateDeployment m_deployment;
    Relaunch m_relaunch;
    qint64 m_maxDownloadBytes = qint64(512) << 20;
    std::chrono::milliseconds m_downloadTimeout{30 * 60 * 1000};

    std::optional<AppUpdateInfo> m_availableUpdate;
    bool m_isChecking = false;
    std::optional<QString> m_lastCheckError;
    UpdatePhase m_phase;
    // The update whose image the phase's localPath holds.
    std::optional<AppUpdateInfo> m_downloadedUpdate;
    quint64 m_checkGeneration = 0;
    quint64 m_downloadGeneration = 0;
};
