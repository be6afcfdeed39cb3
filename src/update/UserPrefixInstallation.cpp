#include "UserPrefixInstallation.h"

#include "fileops/ItemTransfer.h"
#include "fileops/TreeRemover.h"
#include "platform/PlatformPaths.h"

#include <QUuid>

#include <cerrno>

#include <fcntl.h>

namespace {

const QByteArray versionsName = QByteArrayLiteral("versions");
const QByteArray currentName = QByteArrayLiteral("current");
const QByteArray stagingPrefix = QByteArrayLiteral(".staging-");
const QByteArray linkPrefix = QByteArrayLiteral(".current-");
const QByteArray retiredPrefix = QByteArrayLiteral(".retired-");

QByteArray uniqueSuffix()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1();
}

Failure failure(const QString& what, int error)
{
    return {QStringLiteral("%1: %2").arg(what, ItemTransfer::describe(error)), error};
}

} // namespace

UserPrefixInstallation::UserPrefixInstallation(FileSystemPtr fileSystem, FilePath prefix)
    : m_fs(std::move(fileSystem))
    , m_prefix(std::move(prefix))
{
}

FilePath UserPrefixInstallation::defaultPrefix()
{
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    const QByteArray base =
        dataHome.startsWith('/') ? dataHome : PlatformPaths::home().native() + QByteArrayLiteral("/.local/share");
    return FilePath(base + QByteArrayLiteral("/brisko-vella"));
}

FilePath UserPrefixInstallation::versionsFolder() const
{
    return FilePath(m_prefix.native() + '/' + versionsName);
}

FilePath UserPrefixInstallation::currentLink() const
{
    return FilePath(m_prefix.native() + '/' + currentName);
}

FilePath UserPrefixInstallation::updatesFolder() const
{
    return FilePath(m_prefix.native() + QByteArrayLiteral("/updates"));
}

std::optional<QByteArray> UserPrefixInstallation::currentVersion() const
{
    const QByteArray link = currentLink().native();
    QByteArray target;
    if (m_fs->readLinkAt(FileSystem::CurrentDirectory, link.constData(), link, &target) != 0) {
        return std::nullopt;
    }
    while (target.endsWith('/')) {
        target.chop(1);
    }
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray name = target.mid(slash + 1);
    if (name.isEmpty()) {
        return std::nullopt;
    }
    return name;
}

std::optional<QByteArray> UserPrefixInstallation::pathInsideVersion(const FilePath& path) const
{
    const QByteArray versions = versionsFolder().native() + '/';
    const QByteArray native = path.native();
    if (!native.startsWith(versions)) {
        return std::nullopt;
    }
    const QByteArray rest = native.mid(versions.size());
    const qsizetype slash = rest.indexOf('/');
    if (slash <= 0 || slash + 1 >= rest.size() || rest.startsWith('.')) {
        return std::nullopt;
    }
    return rest.mid(slash + 1);
}

int UserPrefixInstallation::sync(const FilePath& folder) const
{
    const QByteArray path = folder.native();
    int fd = -1;
    if (const int error = m_fs->openDirectoryNoFollow(FileSystem::CurrentDirectory, path.constData(), path, &fd);
        error != 0) {
        return error;
    }
    const int error = m_fs->syncFileSystem(fd, path);
    m_fs->closeDirectory(fd);
    return error;
}

void UserPrefixInstallation::removeQuietly(const FilePath& path) const
{
    TreeRemover(m_fs).remove(path);
}

void UserPrefixInstallation::recover() const
{
    const auto clear = [this](const FilePath& folder, const QList<QByteArray>& prefixes) {
        const QByteArray path = folder.native();
        int fd = -1;
        if (m_fs->openDirectoryNoFollow(FileSystem::CurrentDirectory, path.constData(), path, &fd) != 0) {
            return;
        }
        DirectoryNames names;
        const bool read = m_fs->readDirectory(fd, path, &names);
        m_fs->closeDirectory(fd);
        if (!read) {
            return;
        }
        for (const DirectoryNames::Name& entry : names.names) {
            const QByteArray name = names.buffer.mid(entry.offset, entry.length);
            for (const QByteArray& prefix : prefixes) {
                if (name.startsWith(prefix)) {
                    removeQuietly(FilePath(path + '/' + name));
                    break;
                }
            }
        }
    };
    clear(m_prefix, {linkPrefix});
    // ".brisko-partial-": a copy across volumes cut short.
    clear(versionsFolder(), {stagingPrefix, retiredPrefix, QByteArrayLiteral(".brisko-partial-")});
}

Outcome<void> UserPrefixInstallation::install(const FilePath& bundle, const QByteArray& build,
                                              const std::function<Outcome<void>(const FilePath&)>& checkStaged) const
{
    recover();
    const ItemTransfer transfer(m_fs);
    if (const int error = transfer.makePath(versionsFolder()); error != 0) {
        return failure(QStringLiteral("Не удалось создать папку версий"), error);
    }
    const std::optional<QByteArray> previous = currentVersion();
    if (previous == build) {
        return Failure{QStringLiteral("Сборка %1 уже установлена").arg(QString::fromUtf8(build))};
    }

    const QByteArray versions = versionsFolder().native();
    const FilePath staging(versions + '/' + stagingPrefix + build + '-' + uniqueSuffix());
    const ItemTransfer::Result moved = transfer.move(bundle, staging);
    if (moved.outcome == ItemTransfer::Outcome::failed) {
        return Failure{QStringLiteral("Не удалось скопировать обновление: %1").arg(moved.error)};
    }
    if (const int error = sync(versionsFolder()); error != 0) {
        removeQuietly(staging);
        return failure(QStringLiteral("Не удалось записать обновление на диск"), error);
    }
    if (Outcome<void> checked = checkStaged(staging); !checked) {
        removeQuietly(staging);
        return checked;
    }

    // A folder of this build that current does not lead to is what an
    // earlier, interrupted install left: it makes way, but only once the new
    // copy is ready.
    const QByteArray target = versions + '/' + build;
    const QByteArray retired = versions + '/' + retiredPrefix + uniqueSuffix();
    bool retiredOld = false;
    if (m_fs->exists(target)) {
        if (const int error = m_fs->renameAt(FileSystem::CurrentDirectory, target.constData(), target,
                                             FileSystem::CurrentDirectory, retired.constData(), retired, true);
            error != 0) {
            removeQuietly(staging);
            return failure(QStringLiteral("Не удалось установить обновление"), error);
        }
        retiredOld = true;
    }
    const QByteArray stagingPath = staging.native();
    if (const int error = m_fs->renameAt(FileSystem::CurrentDirectory, stagingPath.constData(), stagingPath,
                                         FileSystem::CurrentDirectory, target.constData(), target, true);
        error != 0) {
        removeQuietly(staging);
        return failure(QStringLiteral("Не удалось установить обновление"), error);
    }
    const auto rollBack = [&] { removeQuietly(FilePath(target)); };
    if (const int error = sync(versionsFolder()); error != 0) {
        rollBack();
        return failure(QStringLiteral("Не удалось записать обновление на диск"), error);
    }

    const QByteArray prefix = m_prefix.native();
    const QByteArray temporaryLink = prefix + '/' + linkPrefix + uniqueSuffix();
    const QByteArray current = currentLink().native();
    if (const int error =
            m_fs->symlinkAt(versionsName + '/' + build, FileSystem::CurrentDirectory, temporaryLink.constData(), temporaryLink);
        error != 0) {
        rollBack();
        return failure(QStringLiteral("Не удалось переключить версию"), error);
    }
    if (const int error = m_fs->renameAt(FileSystem::CurrentDirectory, temporaryLink.constData(), temporaryLink,
                                         FileSystem::CurrentDirectory, current.constData(), current, false);
        error != 0) {
        m_fs->removeAt(FileSystem::CurrentDirectory, temporaryLink.constData(), temporaryLink, false);
        rollBack();
        return failure(QStringLiteral("Не удалось переключить версию"), error);
    }
    // The switch is made; a failed flush here cannot undo it, and the next
    // start finds a complete tree either way.
    sync(m_prefix);
    if (retiredOld) {
        removeQuietly(FilePath(retired));
    }

    // Older builds than the previous one are of no further use.
    int fd = -1;
    if (m_fs->openDirectoryNoFollow(FileSystem::CurrentDirectory, versions.constData(), versions, &fd) == 0) {
        DirectoryNames names;
        const bool read = m_fs->readDirectory(fd, versions, &names);
        m_fs->closeDirectory(fd);
        for (const DirectoryNames::Name& entry : read ? names.names : QList<DirectoryNames::Name>()) {
            const QByteArray name = names.buffer.mid(entry.offset, entry.length);
            if (name != build && name != previous && !name.startsWith('.')) {
                removeQuietly(FilePath(versions + '/' + name));
            }
        }
    }
    return {};
}
