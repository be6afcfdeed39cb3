#include "BriskoTest.h"
#include "TestValues.h"
#include "scan/DiskScanner.h"

#include "FakeClock.h"
#include "platform/PlatformFileSystem.h"

#include <QDir>
#include <QSet>
#include <QTest>

namespace {

constexpr qint64 GB = 1'000'000'000;

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
    VolumeFacts facts;
    facts.path = path;
    facts.total = total;
    facts.available = available;
    facts.name = std::move(name);
    facts.localizedName = std::move(localizedName);
    return facts;
}

QStringList pathsOf(const DiskInfoList& disks)
{
    QStringList paths;
    for (const DiskInfo& disk : disks) {
        paths.append(disk.path);
    }
    return paths;
}

} // namespace

class tst_DiskInfo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void noListGivesNoDisks();
    void usableVolumesFullestFirstWithNames();
    void freshIdsOnEveryRead();

private:
    DiskScanner scanner(VolumeSourcePtr volumes) const
    {
        return DiskScanner(std::make_shared<PlatformFileSystem>(), HomeLayout::original(FilePath::fromString(QDir::tempPath())),
                           std::make_shared<FakeClock>(), std::move(volumes), {});
    }
    std::shared_ptr<FakeVolumeSource> m_source;
};

void tst_DiskInfo::init()
{
    m_source = std::make_shared<FakeVolumeSource>();
}

void tst_DiskInfo::noListGivesNoDisks()
{
    QVERIFY(scanner(m_source).diskInfo().isEmpty());
    m_source->volumes = QList<VolumeFacts>{};
    QVERIFY(scanner(m_source).diskInfo().isEmpty());
    // Without a source at all.
    QVERIFY(scanner(nullptr).diskInfo().isEmpty());
}

void tst_DiskInfo::usableVolumesFullestFirstWithNames()
{
    m_source->volumes = QList<VolumeFacts>{
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
    const DiskInfoList disks = scanner(m_source).diskInfo();
    QCOMPARE(pathsOf(disks), (QStringList{QStringLiteral("/"), QStringLiteral("/media/анна/Флешка"),
                                          QStringLiteral("/media/анна/Пусто/"), QStringLiteral("/Volumes/disk1")}));
    QStringList names;
    for (const DiskInfo& disk : disks) {
        names.append(disk.name);
    }
    QCOMPARE(names, (QStringList{QStringLiteral("Резерв"), QStringLiteral("Флешка"), QStringLiteral("Пусто"),
                                 QStringLiteral("Macintosh HD")}));
    QCOMPARE(disks.first().total, 500 * GB);
    QCOMPARE(disks.first().free, 200 * GB);
    QCOMPARE(disks.first().used, 300 * GB);
}

void tst_DiskInfo::freshIdsOnEveryRead()
{
    m_source->volumes = QList<VolumeFacts>{
        volume(QStringLiteral("/"), 100 * GiB, 50 * GiB),
        volume(QStringLiteral("/Volumes/Данные"), 100 * GiB, 10 * GiB),
    };
    const DiskScanner disks = scanner(m_source);
    const DiskInfoList first = disks.diskInfo();
    const DiskInfoList second = disks.diskInfo();
    QCOMPARE(first.size(), 2);
    QCOMPARE(second.size(), 2);
    QSet<QUuid> ids;
    for (const DiskInfoList& list : {first, second}) {
        for (const DiskInfo& disk : list) {
            QVERIFY(!disk.id.isNull());
            ids.insert(disk.id);
        }
    }
    QCOMPARE(ids.size(), 4);
    // Apart from the id, two reads describe the same volumes.
    for (qsizetype i = 0; i < first.size(); ++i) {
        DiskInfo again = second.at(i);
        again.id = first.at(i).id;
        QCOMPARE(again, first.at(i));
    }
}

BRISKO_TEST(tst_DiskInfo)
#include "tst_DiskInfo.moc"
