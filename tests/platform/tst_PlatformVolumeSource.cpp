#include "BriskoTest.h"
#include "TestValues.h"
#include "platform/PlatformVolumeSource.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The mount table's own escaping of a path.
QByteArray escaped(const QByteArray& path)
{
    QByteArray out;
    for (const char c : path) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\\')
            out.append('\\').append(QByteArray::number(int(c), 8).rightJustified(3, '0'));
        else
            out.append(c);
    }
    return out;
}

QStringList pathsOf(const QList<VolumeFacts>& volumes)
{
    QStringList paths;
    for (const VolumeFacts& volume : volumes)
        paths.append(volume.path);
    return paths;
}

} // namespace

class tst_PlatformVolumeSource : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsFakeMountTable()
    {
        QTemporaryDir dir;
        // Mount points must exist: the source asks the kernel for each one's capacity.
        for (const QString& name : {QStringLiteral("My Disk"), QStringLiteral("Диск"), QStringLiteral("tab\tand\\slash"),
                                    QStringLiteral("bind-sub"), QStringLiteral("whole"), QStringLiteral("another-bind"),
                                    QStringLiteral("proc-like")})
            QVERIFY(QDir().mkpath(dir.filePath(name)));
        QVERIFY(writeAll(dir.filePath(QStringLiteral("hosts")), "127.0.0.1 localhost\n"));
        const QByteArray base = escaped(QFile::encodeName(dir.path()));
        const QByteArray table =
            "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
            "23 27 0:22 / /sys rw,relatime - sysfs sysfs rw\n"
            "24 27 0:6 / /dev rw,relatime - devtmpfs devtmpfs rw,size=100k\n"
            "25 24 0:23 / /dev/shm rw,relatime - tmpfs tmpfs rw\n"
            "26 24 0:24 / /dev/pts rw,relatime - devpts devpts rw,mode=600\n"
            "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
            "41 31 0:38 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n"
            "42 27 0:40 / " + base + "/proc-like rw - overlay overlay rw,lowerdir=/a,upperdir=/b\n"
            "43 27 0:41 / " + base + "/proc-like rw - squashfs /dev/loop0 ro\n"
            "60 27 8:17 / " + base + "/My\\040Disk rw,nosuid shared:5 master:1 - ext4 /dev/sdb1 rw\n"
            "61 27 8:18 / " + base + "/Диск rw - vfat /dev/sdc1 rw\n"
            "62 27 8:19 / " + base + "/tab\\011and\\134slash rw - xfs /dev/sdd1 rw\n"
            "63 62 8:19 / " + base + "/tab\\011and\\134slash rw - xfs /dev/sdd1 rw\n"
            "64 27 254:0 /etc/hosts " + base + "/hosts rw - ext4 /dev/vda rw\n"
            "65 27 8:20 /data " + base + "/bind-sub rw - ext4 /dev/sde1 rw\n"
            "66 27 8:20 / " + base + "/whole rw - ext4 /dev/sde1 rw\n"
            "67 27 8:20 /data2 " + base + "/another-bind rw - ext4 /dev/sde1 rw\n"
            "68 27 8:21 / " + base + "/not-there rw - ext4 /dev/sdf1 rw\n"
            "\n"
            "garbage without fields\n"
            "69 27 8:22 / " + base + "/whole rw no-separator ext4 /dev/sdg1 rw\n";
        const QString tablePath = dir.filePath(QStringLiteral("mountinfo"));
        QVERIFY(writeAll(tablePath, table));
        const std::optional<QList<VolumeFacts>> volumes = PlatformVolumeSource(tablePath).mountedVolumes();
        QVERIFY(volumes.has_value());
        // The whole file system takes the place of its earlier bind mount.
        const QStringList names{QStringLiteral("My Disk"), QStringLiteral("Диск"), QStringLiteral("tab\tand\\slash"),
                                QStringLiteral("whole")};
        QStringList paths{QStringLiteral("/")};
        for (const QString& name : names)
            paths.append(dir.filePath(name));
        QCOMPARE(pathsOf(*volumes), paths);
        for (qsizetype i = 0; i < volumes->size(); ++i) {
            const VolumeFacts& volume = volumes->at(i);
            QCOMPARE(volume.name, std::optional<QString>(i == 0 ? QStringLiteral("/") : names.at(i - 1)));
            QVERIFY(!volume.localizedName.has_value());
            QVERIFY(volume.total && volume.available && *volume.total > 0);
            QVERIFY(*volume.available >= 0 && *volume.available <= *volume.total);
        }
    }

    void missingTableGivesNoList()
    {
        QTemporaryDir dir;
        QCOMPARE(PlatformVolumeSource(dir.filePath(QStringLiteral("нет"))).mountedVolumes(), std::nullopt);
        // An empty table is a list, just an empty one.
        const QString empty = dir.filePath(QStringLiteral("empty"));
        QVERIFY(writeAll(empty, QByteArray()));
        const std::optional<QList<VolumeFacts>> volumes = PlatformVolumeSource(empty).mountedVolumes();
        QVERIFY(volumes && volumes->isEmpty());
    }

    void overlayCountsOnlyWhenItHoldsTheHome()
    {
        // A container's root: an overlay, with the home on it.
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("root/home/u"))));
        const QByteArray table = "42 1 0:40 / " + escaped(QFile::encodeName(dir.filePath(QStringLiteral("root"))))
            + " rw - overlay overlay rw,lowerdir=/a,upperdir=/b\n";
        QVERIFY(writeAll(dir.filePath(QStringLiteral("mountinfo")), table));
        const PlatformVolumeSource holding(dir.filePath(QStringLiteral("mountinfo")),
                                           FilePath::fromString(dir.filePath(QStringLiteral("root/home/u"))));
        QCOMPARE(pathsOf(*holding.mountedVolumes()), QStringList{dir.filePath(QStringLiteral("root"))});
        // A home on another file system leaves the overlay out, as before.
        const PlatformVolumeSource elsewhere(dir.filePath(QStringLiteral("mountinfo")), FilePath("/proc"));
        QVERIFY(elsewhere.mountedVolumes()->isEmpty());
        QVERIFY(PlatformVolumeSource(dir.filePath(QStringLiteral("mountinfo"))).mountedVolumes()->isEmpty());
    }

    void realMountTableHasRoot()
    {
        const std::optional<QList<VolumeFacts>> volumes = PlatformVolumeSource().mountedVolumes();
        QVERIFY(volumes.has_value());
        const QStringList paths = pathsOf(*volumes);
        QVERIFY2(paths.contains(QStringLiteral("/")), qPrintable(paths.join(QLatin1Char(' '))));
        QCOMPARE(QSet<QString>(paths.begin(), paths.end()).size(), paths.size());
        QVERIFY(!paths.contains(QStringLiteral("/proc")) && !paths.contains(QStringLiteral("/sys")));
        const VolumeFacts& root = volumes->at(paths.indexOf(QStringLiteral("/")));
        QCOMPARE(root.name, std::optional<QString>(QStringLiteral("/")));
        QVERIFY(root.total && *root.total > 0);
        QVERIFY(root.available && *root.available >= 0 && *root.available <= *root.total);
    }
};

BRISKO_TEST(tst_PlatformVolumeSource)
#include "tst_PlatformVolumeSource.moc"
