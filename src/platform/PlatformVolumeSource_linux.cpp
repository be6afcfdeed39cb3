#include "PlatformVolumeSource.h"

#include <QFile>
#include <QSet>

#include <sys/statvfs.h>

namespace {

// Octal escapes of the mount table ("\040" for a space).
QByteArray unescapeMountField(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out.append(char(code));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return out;
}

} // namespace

PlatformVolumeSource::PlatformVolumeSource(QString mountTable)
    : m_mountTable(mountTable.isEmpty() ? QStringLiteral("/proc/self/mountinfo") : std::move(mountTable))
{
}

bool PlatformVolumeSource::isPseudoFileSystem(const QString& type)
{
    static const QSet<QString> pseudo = {
        QStringLiteral("proc"),       QStringLiteral("sysfs"),      QStringLiteral("devtmpfs"),
        QStringLiteral("devpts"),     QStringLiteral("tmpfs"),      QStringLiteral("ramfs"),
        QStringLiteral("cgroup"),     QStringLiteral("cgroup2"),    QStringLiteral("securityfs"),
        QStringLiteral("pstore"),     QStringLiteral("debugfs"),    QStringLiteral("tracefs"),
        QStringLiteral("configfs"),   QStringLiteral("fusectl"),    QStringLiteral("mqueue"),
        QStringLiteral("hugetlbfs"),  QStringLiteral("bpf"),        QStringLiteral("binfmt_misc"),
        QStringLiteral("autofs"),     QStringLiteral("rpc_pipefs"), QStringLiteral("nsfs"),
        QStringLiteral("efivarfs"),   QStringLiteral("overlay"),    QStringLiteral("squashfs"),
        QStringLiteral("fuse.portal"), QStringLiteral("fuse.gvfsd-fuse"), QStringLiteral("nfsd"),
        QStringLiteral("selinuxfs"),  QStringLiteral("devfs"),      QStringLiteral("sockfs"),
        QStringLiteral("pipefs"),     QStringLiteral("fuse.lxcfs"),
    };
    return pseudo.contains(type);
}

std::optional<QList<VolumeFacts>> PlatformVolumeSource::mountedVolumes() const
{
    QFile file(m_mountTable);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QList<VolumeFacts> volumes;
    QSet<QByteArray> seenMountPoints;
    for (const QByteArray& line : file.readAll().split('\n')) {
        // id parent major:minor root mountpoint options [optional…] - fstype source superoptions
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf(QByteArrayLiteral("-"));
        if (fields.size() < 5 || separator < 0 || separator + 2 >= fields.size()) {
            continue;
        }
        const QString type = QString::fromUtf8(fields[separator + 1]);
        if (isPseudoFileSystem(type)) {
            continue;
        }
        const QByteArray mountPoint = unescapeMountField(fields[4]);
        // Bind mounts and stacked mounts show the same place more than once.
        if (seenMountPoints.contains(mountPoint)) {
            continue;
        }
        seenMountPoints.insert(mountPoint);

        VolumeFacts volume;
        volume.path = QFile::decodeName(mountPoint);
        struct statvfs vfs;
        if (::statvfs(mountPoint.constData(), &vfs) == 0) {
            volume.total = qint64(vfs.f_blocks) * qint64(vfs.f_frsize);
            volume.available = qint64(vfs.f_bavail) * qint64(vfs.f_frsize);
        }
        if (mountPoint == "/") {
            volume.name = QStringLiteral("/");
        } else {
            volume.name = QFile::decodeName(mountPoint.mid(mountPoint.lastIndexOf('/') + 1));
        }
        volumes.append(volume);
    }
    return volumes;
}
