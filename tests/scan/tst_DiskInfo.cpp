#include "BriskoTest.h"
#include "TestValues.h"
#include "FakeClock.h"

#include "platform/PlatformFileSystem.h"
#include "scan/DiskScanner.h"

#include <QDir>
#include <QSet>
#include <QTest>

namespace {

// Volumes as a test lists them; nothing at all when unset.
class FakeVolumeSource : public VolumeSource
{
public:
    std::optional<QList<VolumeFacts>> mountedVolumes() const override { return volumes; }

    std::optional<QList<VolumeFacts>> volumes;
};

VolumeFacts volume(const QString& path, std::optional<qint64> total, std::optional<qint64> available,
                   std::optional<QString> name = std::nullopt, std::optional<QString> localizedName = std::nullopt)
{
    return VolumeFacts{path, std::move(name), std::move(localizedName), total, available};
}

DiskScanner scannerOf(VolumeSourcePtr volumes)
{
    return DiskScanner(std::make_shared<PlatformFileSystem>(), HomeLayout::original(FilePath::fromString(QDir::tempPath())),
                       std::make_shared<FakeClock>(), std::move(volumes), {});
}

} // namespace

class tst_DiskInfo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void noListGivesNoDisks();
    void usableVolumesFullestFirstWithNamesAndFreshIds();
};

void tst_DiskInfo::noListGivesNoDisks()
{
    auto source = std::make_shared<FakeVolumeSource>();
    QVERIFY(scannerOf(source).diskInfo().isEmpty());
    source->volumes = QList<VolumeFacts>{};
    QVERIFY(scannerOf(source).diskInfo().isEmpty());
    QVERIFY(scannerOf(nullptr).diskInfo().isEmpty());
}

void tst_DiskInfo::usableVolumesFullestFirstWithNamesAndFreshIds()
{
    constexpr qint64 GB = 1'000'000'000;
    auto source = std::make_shared<FakeVolumeSource>();
    source->volumes = QList<VolumeFacts>{
        volume(QStringLiteral("/Volumes/NoTotal"), std::nullopt, 5 * GiB),
        volume(QStringLiteral("/Volumes/NoFree"), 10 * GiB, std::nullopt),
        volume(QStringLiteral("/Volumes/Negative"), -10 * GiB, 1 * GiB),
        // A small disk image drops out; one GiB is enough.
        volume(QStringLiteral("/Volumes/JustUnder"), GiB - 1, 0),
        volume(QStringLiteral("/Volumes/disk1"), GiB, GiB / 4, QStringLiteral("disk1"), QStringLiteral("Macintosh HD")),
        volume(QStringLiteral("/"), 500 * GB, 200 * GB, QStringLiteral("Резерв"), QString()),
        // Equal use keeps the platform's order.
        volume(QStringLiteral("/media/анна/Флешка"), 100 * GiB, 90 * GiB),
        volume(QStringLiteral("/media/анна/Пусто/"), 50 * GiB, 40 * GiB, QString(), QString()),
    };
    const DiskScanner scanner = scannerOf(source);
    const DiskInfoList disks = scanner.diskInfo();
    QStringList described;
    for (const DiskInfo& disk : disks) {
        described.append(disk.path + u'|' + disk.name);
        QVERIFY(!disk.id.isNull());
    }
    QCOMPARE(described, (QStringList{QStringLiteral("/|Резерв"), QStringLiteral("/media/анна/Флешка|Флешка"),
                                     QStringLiteral("/media/анна/Пусто/|Пусто"),
                                     QStringLiteral("/Volumes/disk1|Macintosh HD")}));
    QCOMPARE(disks.first().total, 500 * GB);
    QCOMPARE(disks.first().free, 200 * GB);
    QCOMPARE(disks.first().used, 300 * GB);
    // Every read gives fresh ids; apart from them, it describes the same volumes.
    const DiskInfoList again = scanner.diskInfo();
    QCOMPARE(again.size(), disks.size());
    QSet<QUuid> ids;
    for (qsizetype i = 0; i < disks.size(); ++i) {
        ids << disks.at(i).id << again.at(i).id;
        DiskInfo same = again.at(i);
        same.id = disks.at(i).id;
        QCOMPARE(same, disks.at(i));
    }
    QCOMPARE(ids.size(), 2 * disks.size());
}

BRISKO_TEST(tst_DiskInfo)
#include "tst_DiskInfo.moc"
