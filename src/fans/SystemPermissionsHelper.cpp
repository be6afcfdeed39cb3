#include "SystemPermissionsHelper.h"

#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>

bool SystemPermissionsHelper::needsFullDiskAccess(const FileSystem& fileSystem, const FilePath& home)
{
    for (const char* relative : {"Library/Safari/Bookmarks.plist", "Library/Mail"}) {
        const FilePath probe = home.child(QString::fromLatin1(relative));
        FileStat stat;
        if (!fileSystem.stat(probe.native(), true, &stat)) {
            continue;
        }
        // Opening is the only honest test: the protection is enforced on
        // access, not written in the permission bits.
        if (stat.isDirectory) {
            const int fd = fileSystem.openDirectory(FileSystem::CurrentDirectory, probe.native().constData(),
                                                    probe.native());
            if (fd < 0) {
                return true;
            }
            fileSystem.closeDirectory(fd);
            return false;
        }
        int fd = -1;
        if (fileSystem.openFileAt(FileSystem::CurrentDirectory, probe.native().constData(), probe.native(),
                                  O_RDONLY, 0, &fd)
            != 0) {
            return true;
        }
        fileSystem.closeFile(fd);
        return false;
    }
    return false;
}

void SystemPermissionsHelper::openFullDiskAccessSettings(Workspace& workspace)
{
    const QUrl current(
        QStringLiteral("x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_AllFiles"));
    if (current.isValid() && workspace.openUrl(current)) {
        return;
    }
    workspace.openUrl(QUrl(QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles")));
}
