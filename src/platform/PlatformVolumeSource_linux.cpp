#include "PlatformVolumeSource.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <sys/stat.h>
#include <sys/statvfs.h>

namespace {

bool isOctalDigit(char c)
{
    return c >= '0' && c <= '7';
}

// Octal escapes of the mount table ("\040" for a space, "\134" for a backslash).
QByteArray unescapeMountField(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctalDigit(field[i + 1]) && isOctalDigit(field[i + 2])
            && isOctalDigit(field[i + 3])) {
            out.append(char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0')));
            i += 3;
            continue;
        }
        out.append(field[i]);
    }
    return out;
}

} // namespace

PlatformVolumeSource::PlatformVolumeSource(QString mountTable, FilePath home)
    : m_mountTable(mountTable.isEmpty() ? QStringLiteral("/proc/self/mountinfo") : std::move(mountTable))
    , m_home(std::move(home))
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
    struct stat homeStat;
    const bool knowsHome = !m_home.isEmpty() && ::stat(m_home.native().constData(), &homeStat) == 0;
    // One file system mounted in several places (bind mounts, a container's
    // volumes) is one volume: listing it twice would count its space twice.
    // The mount of the whole file system (root "/") is the one shown.
    QHash<QByteArray, qsizetype> volumeOfDevice;
    QList<bool> showsWholeFileSystem;
    for (const QByteArray& line : file.readAll().split('\n')) {
        // id parent major:minor root mountpoint options [optional…] - fstype source superoptions
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf(QByteArrayLiteral("-"), 6);
        if (fields.size() < 5 || separator < 0 || separator + 2 >= fields.size()) {
            continue;
        }
        const QString type = QString::fromUtf8(fields[separator + 1]);
        const QByteArray mountPoint = unescapeMountField(fields[4]);
        if (isPseudoFileSystem(type)) {
            struct stat st;
            const bool holdsHome = type == QLatin1String("overlay") && knowsHome
                && ::stat(mountPoint.constData(), &st) == 0 && st.st_dev == homeStat.st_dev;
            if (!holdsHome) {
                continue;
            }
        }
        // Stacked mounts show the same place more than once.
        if (seenMountPoints.contains(mountPoint)) {
            continue;
        }
        seenMountPoints.insert(mountPoint);
        // Single files mounted over others (a container's /etc/hosts) are no volumes.
        struct stat st;
        if (::stat(mountPoint.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            continue;
        }

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
        const QByteArray& device = fields[2];
        const bool whole = unescapeMountField(fields[3]) == "/";
        if (const auto known = volumeOfDevice.constFind(device); known != volumeOfDevice.cend()) {
            if (whole && !showsWholeFileSystem[*known]) {
                volumes[*known] = volume;
                showsWholeFileSystem[*known] = true;
            }
            continue;
        }
        volumeOfDevice.insert(device, volumes.size());
        volumes.append(volume);
        showsWholeFileSystem.append(whole);
    }
    return volumes;
}
