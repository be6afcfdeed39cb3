// Installs an update image into a prefix, dying (exit status 9, no clean-up)
// at the nth file-system operation, so that the tests can see what a crash
// at that step leaves behind:
//   update_install_helper PREFIX TMP IMAGE PUBLIC-KEY-HEX N
// Exit status 0 when the install got through before the nth operation.
#include "FaultInjectingFileSystem.h"

#include "update/PlatformUpdateInstaller.h"

#include <QCoreApplication>

#include <cerrno>

#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 6) {
        return 2;
    }
    auto fs = std::make_shared<FaultInjectingFileSystem>();
    fs->setOnFault([] { ::_exit(9); });
    fs->failOperation(arguments.at(5).toInt(), EIO);

    const UpdateDeployment deployment{.allowedHosts = {QStringLiteral("localhost")},
                                      .bundleIdentifier = QStringLiteral("ru.korvane.BriskoVella"),
                                      .signingPublicKey = QByteArray::fromHex(arguments.at(4).toLatin1()),
                                      .localVersion = QStringLiteral("0.1.0"),
                                      .localBuild = QStringLiteral("1")};
    const QByteArray prefix = arguments.at(1).toUtf8();
    PlatformUpdateInstaller installer(fs, deployment, FilePath(prefix),
                                      FilePath(prefix + "/versions/1/Contents/bin/brisko"),
                                      FilePath(arguments.at(2).toUtf8()));
    const AppUpdateInfo update{QStringLiteral("0.2.0"), QStringLiteral("2"), QUrl(), QString(), QString()};
    return installer.install(arguments.at(3), update).ok() ? 0 : 1;
}
