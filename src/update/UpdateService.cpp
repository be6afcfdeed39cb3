#include "UpdateService.h"

#include "PlatformUpdateInstaller.h"
#include "UpdateConfig.h"
#include "UpdateError.h"
#include "UpdateVersionOrder.h"
#include "base/OffThread.h"
#include "base/Sha256.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QTimer>

namespace {

const QString phaseKey = QStringLiteral("phase");

QMap<QString, QString> phaseContext(const QString& phase)
{
    return {{phaseKey, phase}};
}

QFuture<void> finishedFuture()
{
    QPromise<void> promise;
    promise.start();
    promise.finish();
    return promise.future();
}

std::shared_ptr<QPromise<void>> startedPromise()
{
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    return promise;
}

UpdateService::Relaunch defaultRelaunch()
{
    UpdateService::Relaunch relaunch;
    relaunch.start = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    relaunch.quit = [] { QCoreApplication::exit(0); };
    return relaunch;
}

} // namespace

UpdateService::UpdateService(QPointer<HttpTransport> transport, ErrorReportSinkPtr errors,
                             std::shared_ptr<UpdateInstaller> installer, UpdateDeployment deployment, QObject* parent)
    : QObject(parent)
    , m_transport(std::move(transport))
    , m_errors(std::move(errors))
    , m_installer(std::move(installer))
    , m_deployment(std::move(deployment))
    , m_relaunch(defaultRelaunch())
{
}

UpdateService* UpdateService::forPlatform(QPointer<HttpTransport> transport, FileSystemPtr fileSystem,
                                          ErrorReportSinkPtr errors, QObject* parent)
{
    UpdateDeployment deployment = UpdateDeployment::production();
    auto installer = PlatformUpdateInstaller::forCurrentUser(std::move(fileSystem), deployment);
    return new UpdateService(std::move(transport), std::move(errors), std::move(installer), std::move(deployment),
                             parent);
}

QFuture<void> UpdateService::check(const QString& configURL)
{
    const QUrl url(configURL.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.isEmpty()) {
        return finishedFuture();
    }
    if (!m_deployment.isTrusted(url)) {
        ++m_checkGeneration;
        setIsChecking(false);
        failCheck(UpdateError::untrustedSource, phaseContext(QStringLiteral("check")));
        return finishedFuture();
    }
    setIsChecking(true);
    setLastCheckError(std::nullopt);

    auto promise = startedPromise();
    const QFuture<void> future = promise->future();
    const quint64 generation = ++m_checkGeneration;
    if (!m_transport) {
        HttpResponse none;
        none.errorText = QStringLiteral("нет подключения к сети");
        finishCheck(none);
        promise->finish();
        return future;
    }
    HttpRequest request;
    request.url = url;
    request.timeout = checkTimeout;
    request.maxBodyBytes = maxVersionFileBytes;
    request.bypassCache = true;
    const UpdateDeployment deployment = m_deployment;
    request.acceptRedirect = [deployment](const QUrl& next) { return deployment.isTrusted(next); };
    const QPointer<UpdateService> self(this);
    m_transport->send(request, [self, generation, promise](const HttpResponse& response) {
        // Only the newest check publishes.
        if (self && generation == self->m_checkGeneration) {
            self->finishCheck(response);
        }
        promise->finish();
    });
    return future;
}

void UpdateService::finishCheck(const HttpResponse& response)
{
    const auto done = qScopeGuard([this] { setIsChecking(false); });
    if (!response.isHttp) {
        failCheck(response.errorText, phaseContext(QStringLiteral("check")));
        return;
    }
    if (!response.isSuccess()) {
        failCheck(UpdateError::serverUnavailable, {});
        return;
    }
    if (!response.hasCompleteBody()) {
        failCheck(response.bodyTooLarge ? QStringLiteral("Файл обновлений слишком большой")
                                        : QStringLiteral("Файл обновлений получен не полностью"),
                  phaseContext(QStringLiteral("check")));
        return;
    }
    const Outcome<UpdateConfig> config = UpdateConfig::decode(response.body);
    if (!config) {
        failCheck(config.message(), phaseContext(QStringLiteral("check")));
        return;
    }
    const QUrl download(config->downloadURL.trimmed(), QUrl::StrictMode);
    if (!download.isValid() || download.isEmpty()) {
        return;
    }
    if (!m_deployment.isTrusted(download)) {
        failCheck(UpdateError::untrustedDownload, phaseContext(QStringLiteral("manifest")));
        return;
    }
    if (UpdateVersionOrder::isNewer(config->version, config->build, m_deployment.localVersion,
                                    m_deployment.localBuild)) {
        setAvailableUpdate(AppUpdateInfo{config->version, config->build, download, config->releaseNotes, config->sha256});
    } else {
        setAvailableUpdate(std::nullopt);
    }
}

void UpdateService::failCheck(const QString& message, const QMap<QString, QString>& context)
{
    setLastCheckError(message);
    if (m_errors) {
        m_errors->report(AppFeature::update, message, context);
    }
}

QFuture<void> UpdateService::downloadUpdate()
{
    if (!m_availableUpdate) {
        return finishedFuture();
    }
    const AppUpdateInfo update = *m_availableUpdate;
    const quint64 generation = ++m_downloadGeneration;
    m_downloadedUpdate.reset();
    setPhase(UpdatePhase::downloading());

    // Nothing is fetched that could not be verified, nor from anywhere but
    // the maker's hosts (the offer passed this check already; it is cheap to
    // make sure).
    if (!update.sha256 || update.sha256->trimmed().isEmpty()) {
        failPhase(UpdateError::missingChecksum, QStringLiteral("download"));
        return finishedFuture();
    }
    if (!m_deployment.isTrusted(update.downloadURL)) {
        failPhase(UpdateError::untrustedDownload, QStringLiteral("download"));
        return finishedFuture();
    }
    if (const Outcome<QString> folder = m_installer->updatesDirectory(); !folder) {
        failPhase(folder.message(), QStringLiteral("download"));
        return finishedFuture();
    }
    const QString destination = m_installer->downloadedImagePath(update.version);
    // Written beside the destination and renamed over it only when complete:
    // an earlier download of the same version stays intact until then.
    auto file = std::make_shared<QSaveFile>(destination);
    if (!file->open(QIODevice::WriteOnly)) {
        failPhase(QStringLiteral("Не удалось сохранить обновление: %1").arg(file->errorString()),
                  QStringLiteral("download"));
        return finishedFuture();
    }
    if (!m_transport) {
        file->cancelWriting();
        failPhase(QStringLiteral("нет подключения к сети"), QStringLiteral("download"));
        return finishedFuture();
    }

    auto promise = startedPromise();
    const QFuture<void> future = promise->future();
    HttpRequest request;
    request.url = update.downloadURL;
    request.timeout = m_downloadTimeout;
    request.maxBodyBytes = m_maxDownloadBytes;
    request.bypassCache = true;
    const UpdateDeployment deployment = m_deployment;
    request.acceptRedirect = [deployment](const QUrl& next) { return deployment.isTrusted(next); };
    request.bodySink = [file](QByteArrayView piece) { return file->write(piece.data(), piece.size()) == piece.size(); };

    const QPointer<UpdateService> self(this);
    m_transport->send(request, [self, generation, promise, file, update, destination](const HttpResponse& response) {
        if (!self || generation != self->m_downloadGeneration) {
            file->cancelWriting();
            promise->finish();
            return;
        }
        QString failure;
        if (!response.isHttp) {
            failure = response.errorText;
        } else if (!response.isSuccess()) {
            failure = QStringLiteral("Сервер не отдал обновление (код ответа %1)").arg(response.status);
        } else if (response.bodyTooLarge) {
            failure = UpdateError::downloadTooLarge;
        } else if (response.bodyIncomplete) {
            failure = file->error() != QFileDevice::NoError
                ? QStringLiteral("Не удалось сохранить обновление: %1").arg(file->errorString())
                : QStringLiteral("Загрузка обновления прервалась");
        } else if (!file->commit()) {
            failure = QStringLiteral("Не удалось сохранить обновление: %1").arg(file->errorString());
        }
        if (!failure.isEmpty()) {
            file->cancelWriting();
            self->failPhase(failure, QStringLiteral("download"));
            promise->finish();
            return;
        }
        // Hashing a large image takes a while: off the main thread.
        const std::optional<QString> expected = update.sha256;
        OffThread::run(
            self.data(),
            [destination, expected] {
                Outcome<void> verified = verifyDownloadedUpdate(destination, expected);
                Sha256::releaseThreadState();
                return verified;
            },
            [generation, promise, update, destination](UpdateService& service, const Outcome<void>& verified) {
                if (generation == service.m_downloadGeneration) {
                    if (!verified) {
                        // An image that failed its check is of no use to anyone.
                        QFile::remove(destination);
                        service.failPhase(verified.message(), QStringLiteral("download"));
                    } else {
                        service.m_downloadedUpdate = update;
                        service.setPhase(UpdatePhase::readyToInstall(destination));
                    }
                }
                promise->finish();
            });
    });
    return future;
}

Outcome<void> UpdateService::verifyDownloadedUpdate(const QString& path, const std::optional<QString>& expected)
{
    const QString wanted = expected.value_or(QString()).trimmed();
    if (wanted.isEmpty()) {
        return Failure{UpdateError::missingChecksum};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Failure{QStringLiteral("Не удалось прочитать обновление: %1").arg(file.errorString())};
    }
    Sha256 digest;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(buffer.data(), buffer.size());
        if (n < 0) {
            return Failure{QStringLiteral("Не удалось прочитать обновление: %1").arg(file.errorString())};
        }
        if (n == 0) {
            break;
        }
        digest.add(QByteArrayView(buffer.constData(), n));
    }
    if (QString::fromLatin1(digest.hexDigest()).compare(wanted, Qt::CaseInsensitive) != 0) {
        return Failure{UpdateError::checksumMismatch};
    }
    return {};
}

QFuture<void> UpdateService::installDownloadedUpdate()
{
    if (m_phase.kind != UpdatePhase::Kind::readyToInstall || !m_downloadedUpdate) {
        return finishedFuture();
    }
    if (!m_installer->canInstallInPlace()) {
        setPhase(UpdatePhase::failed(m_installer->installInstructions()));
        return finishedFuture();
    }
    const QString image = m_phase.localPath;
    const AppUpdateInfo update = *m_downloadedUpdate;
    ++m_downloadGeneration;
    setPhase(UpdatePhase::installing());

    auto promise = startedPromise();
    const QFuture<void> future = promise->future();
    const std::shared_ptr<UpdateInstaller> installer = m_installer;
    OffThread::run(
        this,
        [installer, image, update] {
            Outcome<QString> executable = installer->install(image, update);
            Sha256::releaseThreadState();
            return executable;
        },
        [promise](UpdateService& service, const Outcome<QString>& executable) {
            if (!executable) {
                service.failPhase(executable.message(), QStringLiteral("install"));
                promise->finish();
                return;
            }
            service.relaunchInstalledApp(*executable, promise);
        });
    return future;
}

void UpdateService::relaunchInstalledApp(const QString& executable, const std::shared_ptr<QPromise<void>>& promise)
{
    Q_EMIT appWillRelaunchForUpdate();
    const Relaunch relaunch = m_relaunch;
    QTimer::singleShot(relaunch.delay, this, [relaunch, executable, promise] {
        if (!relaunch.start || !relaunch.quit) {
            promise->finish();
            return;
        }
        // Whether or not the new copy starts, this one ends: the installed
        // copy is the new one from now on.
        relaunch.start(executable, relaunch.arguments);
        relaunch.quit();
        promise->finish();
    });
}

void UpdateService::dismissUpdate()
{
    setAvailableUpdate(std::nullopt);
    if (m_phase.kind == UpdatePhase::Kind::readyToInstall) {
        setPhase(UpdatePhase::idle());
    }
}

bool UpdateService::canInstallInPlace() const
{
    return m_installer->canInstallInPlace();
}

QString UpdateService::installInstructions() const
{
    return m_installer->installInstructions();
}

void UpdateService::setDownloadLimits(qint64 maxBytes, std::chrono::milliseconds timeout)
{
    m_maxDownloadBytes = maxBytes;
    m_downloadTimeout = timeout;
}

void UpdateService::setRelaunch(Relaunch relaunch)
{
    m_relaunch = std::move(relaunch);
}

void UpdateService::failPhase(const QString& message, const QString& reportPhase)
{
    setPhase(UpdatePhase::failed(message));
    if (m_errors) {
        m_errors->report(AppFeature::update, message, phaseContext(reportPhase));
    }
}

void UpdateService::setAvailableUpdate(const std::optional<AppUpdateInfo>& update)
{
    if (m_availableUpdate != update) {
        m_availableUpdate = update;
        Q_EMIT availableUpdateChanged();
    }
}

void UpdateService::setIsChecking(bool checking)
{
    if (m_isChecking != checking) {
        m_isChecking = checking;
        Q_EMIT isCheckingChanged();
    }
}

void UpdateService::setLastCheckError(const std::optional<QString>& error)
{
    if (m_lastCheckError != error) {
        m_lastCheckError = error;
        Q_EMIT lastCheckErrorChanged();
    }
}

void UpdateService::setPhase(const UpdatePhase& phase)
{
    if (m_phase != phase) {
        m_phase = phase;
        Q_EMIT phaseChanged();
    }
}
