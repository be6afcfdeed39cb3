#include "PlatformWorkspace.h"

#include <QProcess>
#include <QStandardPaths>

bool PlatformWorkspace::revealFile(const FilePath& file)
{
    // The freedesktop file-manager interface can select the item; without a
    // file manager that speaks it, opening the folder is the best we can do.
    const QString dbusSend = QStandardPaths::findExecutable(QStringLiteral("dbus-send"));
    if (!dbusSend.isEmpty()) {
        // Percent-encode the native bytes: a QString detour would garble names
        // that are not valid UTF-8.
        const QByteArray url = "file://" + file.native().toPercentEncoding("/");
        const bool started = QProcess::startDetached(
            dbusSend, {QStringLiteral("--session"), QStringLiteral("--dest=org.freedesktop.FileManager1"),
                       QStringLiteral("--type=method_call"), QStringLiteral("/org/freedesktop/FileManager1"),
                       QStringLiteral("org.freedesktop.FileManager1.ShowItems"),
                       QStringLiteral("array:string:") + QString::fromLatin1(url),
                       QStringLiteral("string:")});
        if (started) {
            return true;
        }
    }
    return openUrl(QUrl::fromLocalFile(file.parent().toString()));
}

bool PlatformWorkspace::openUrl(const QUrl& url)
{
    return QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromUtf8(url.toEncoded())});
}
