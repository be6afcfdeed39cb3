#include "PlatformUpdateInstaller.h"

#include "UpdateBundleVerifier.h"
#include "UpdateError.h"
#include "fileops/ItemTransfer.h"
#include "fileops/TreeRemover.h"
#include "platform/PlatformPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QUuid>

namespace {

const QByteArray defaultProgram = QByteArrayLiteral("Contents/bin/brisko");

} // namespace

PlatformUpdateInstaller::PlatformUpdateInstaller(FileSystemPtr fileSystem, UpdateDeployment deployment,
                                                 FilePath prefix, FilePath runningExecutable,
                                                 FilePath temporaryFolder, UpdateImageExtractor::Limits limits)
    : m_fs(std::move(fileSystem))
    , m_deployment(std::move(deployment))
    , m_installation(m_fs, std::move(prefix))
    , m_runningExecutable(std::move(runningExecutable))
    , m_temporaryFolder(std::move(temporaryFolder))
    , m_limits(limits)
{
}

std::shared_ptr<PlatformUpdateInstaller> PlatformUpdateInstaller::forCurrentUser(FileSystemPtr fileSystem,
                                                                                 const UpdateDeployment& deployment)
{
    return std::make_shared<PlatformUpdateInstaller>(std::move(fileSystem), deployment,
                                                     UserPrefixInstallation::defaultPrefix(),
                                                     PlatformPaths::executable(),
                                                     FilePath::fromString(QDir::tempPath()));
}

Outcome<QString> PlatformUpdateInstaller::updatesDirectory() const
{
    const FilePath folder = m_installation.updatesFolder();
    if (const int failure = ItemTransfer(m_fs).makePath(folder); failure != 0) {
        return Failure{QStringLiteral("Не удалось создать папку обновлений: %1").arg(ItemTransfer::describe(failure)),
                       failure};
    }
    return folder.toString();
}

QString PlatformUpdateInstaller::downloadedImagePath(const QString& version) const
{
    return m_installation.updatesFolder().toString() + QStringLiteral("/BriskoVella-") + version
        + QStringLiteral(".tar.zst");
}

bool PlatformUpdateInstaller::canInstallInPlace() const
{
    // Compared after resolving links, so that a prefix reached through a
    // linked home folder still counts.
    const QString prefix = QFileInfo(m_installation.prefix().toString()).canonicalFilePath();
    const QString executable = QFileInfo(m_runningExecutable.toString()).canonicalFilePath();
    if (prefix.isEmpty() || executable.isEmpty()) {
        return false;
    }
    const UserPrefixInstallation resolved(m_fs, FilePath::fromString(prefix));
    return resolved.pathInsideVersion(FilePath::fromString(executable)).has_value()
        && QFileInfo(prefix).isWritable() && QFileInfo(resolved.versionsFolder().toString()).isWritable();
}

QString PlatformUpdateInstaller::installInstructions() const
{
    return QStringLiteral(
               "Эта копия Brisko Vella запущена не из пользовательской установки (%1), поэтому не может обновиться "
               "сама. Скачайте новую версию с сайта korvane.ru и установите её командой scripts/install-user "
               "(или обновите пакет системы, если программа установлена из него), затем запустите Brisko Vella снова.")
        .arg(m_installation.prefix().toString());
}

Outcome<QString> PlatformUpdateInstaller::install(const QString& imagePath, const AppUpdateInfo& offered)
{
    static const QRegularExpression decimalBuild(QStringLiteral("^[0-9]{1,18}$"));
    if (!decimalBuild.match(offered.build).hasMatch()) {
        return Failure{QStringLiteral("Недопустимый номер сборки обновления")};
    }

    const FilePath mountPoint(m_temporaryFolder.native() + QByteArrayLiteral("/BriskoVella-mount-")
                              + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1());
    const QByteArray mountPath = mountPoint.native();
    if (const int error = m_fs->makeDirectoryAt(FileSystem::CurrentDirectory, mountPath.constData(), mountPath, 0700);
        error != 0) {
        return Failure{QStringLiteral("%1: %2").arg(UpdateError::mountFailed, ItemTransfer::describe(error)), error};
    }
    // "Detach": whatever happens, nothing of the image stays behind. A
    // second pass takes what a passing failure left.
    const auto detach = qScopeGuard([this, &mountPoint] {
        const TreeRemover remover(m_fs);
        if (!remover.remove(mountPoint).ok()) {
            remover.remove(mountPoint);
        }
    });

    const UpdateImageExtractor extractor(m_fs, m_limits);
    if (const Outcome<void> extracted = extractor.extract(imagePath, mountPoint); !extracted) {
        return Failure{QStringLiteral("%1: %2").arg(UpdateError::mountFailed, extracted.message()), extracted.error()};
    }

    const FilePath app(mountPath + '/' + UpdateDeployment::appBundleName.toUtf8());
    FileStat stat;
    if (!m_fs->stat(app.native(), false, &stat) || !stat.isDirectory) {
        return Failure{UpdateError::appNotFoundInImage};
    }
    const UpdateBundleVerifier verifier(m_fs, m_deployment);
    if (Outcome<void> verified = verifier.verify(app, offered); !verified) {
        return verified.failure();
    }

    const QByteArray build = offered.build.toLatin1();
    const Outcome<void> installed = m_installation.install(
        app, build, [&verifier, &offered](const FilePath& staged) { return verifier.verifyContents(staged, offered); });
    if (!installed) {
        return installed.failure();
    }

    // The new copy of the program that is running now, else the main one.
    const QByteArray version = m_installation.versionsFolder().native() + '/' + build + '/';
    const QString prefix = QFileInfo(m_installation.prefix().toString()).canonicalFilePath();
    const std::optional<QByteArray> inside = UserPrefixInstallation(m_fs, FilePath::fromString(prefix))
                                                 .pathInsideVersion(FilePath::fromString(
                                                     QFileInfo(m_runningExecutable.toString()).canonicalFilePath()));
    FileStat program;
    const bool sameProgram = inside && m_fs->stat(version + *inside, true, &program) && program.isRegular;
    return FilePath(version + (sameProgram ? *inside : defaultProgram)).toString();
}
