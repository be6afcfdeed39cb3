#include "BriskoTest.h"
#include "TestValues.h"
#include "FakeClock.h"
#include "FaultInjectingFileSystem.h"
#include "TempHome.h"

#include "model/AppSettings.h"
#include "scan/AppVideoTypes.h"
#include "scan/DiskScanner.h"

#include <QFile>
#include <QProcessEnvironment>
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

} // namespace

class TestDiskScanner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void largeFolders();
    void archiveCandidates();
    void downloadsInboxListsEveryLooseFile();
    void largeLooseFilesAndOldInstallers();
    void plusVideosByName();
    void plusVideosByType();
    void appCaches();
    void systemJunk();
    void systemJunkFallsBackToWholeCaches();
    void progressReports();
    void missingFoldersGiveNothing();
    void freedesktopHome_data();
    void freedesktopHome();
    void disabledUserFoldersAreNotScanned();
    void noVolumeListGivesNoDisks();
    void usableVolumesFullestFirstWithNamesAndFreshIds();

private:
    ScanItemList scan(ScanCategory category);
    // Makes a small real file and has the file system report the given allocated size for it.
    QString sized(const QString& relative, qint64 bytes, std::optional<QDateTime> modified = std::nullopt);
    static const ScanItem* find(const ScanItemList& items, const QString& name);
    // "name | detail" of each row, "-" for no detail.
    static QStringList describe(const ScanItemList& items);
    DiskScanner withVolumes(VolumeSourcePtr volumes) const
    {
        return DiskScanner(m_fs, HomeLayout::original(m_home->home()), m_clock, std::move(volumes), {});
    }

    std::unique_ptr<TempHome> m_home;
    std::shared_ptr<FaultInjectingFileSystem> m_fs;
    std::shared_ptr<FakeClock> m_clock;
    std::unique_ptr<DiskScanner> m_scanner;
    AppSettings m_settings;
};

void TestDiskScanner::init()
{
    m_home = std::make_unique<TempHome>();
    m_fs = std::make_shared<FaultInjectingFileSystem>();
    m_clock = std::make_shared<FakeClock>(QDateTime::currentDateTime());
    m_scanner = std::make_unique<DiskScanner>(m_fs, HomeLayout::original(m_home->home()), m_clock, nullptr, AppVideoTypes::extensions());
    m_settings = AppSettings::defaults(m_home->path());
}

ScanItemList TestDiskScanner::scan(ScanCategory category)
{
    return m_scanner->scan(m_settings, {category}, {});
}

QString TestDiskScanner::sized(const QString& relative, qint64 bytes, std::optional<QDateTime> modified)
{
    const QString path = m_home->makeFile(relative, 1, modified);
    m_fs->setAllocatedSize(QFile::encodeName(path), bytes);
    return path;
}

const ScanItem* TestDiskScanner::find(const ScanItemList& items, const QString& name)
{
    for (const ScanItem& item : items) {
        if (item.name == name) {
            return &item;
        }
    }
    return nullptr;
}

QStringList TestDiskScanner::describe(const ScanItemList& items)
{
    QStringList lines;
    for (const ScanItem& item : items) {
        lines.append(item.name + QStringLiteral(" | ") + item.detail.value_or(QStringLiteral("-")));
    }
    return lines;
}

void TestDiskScanner::largeFolders()
{
    m_settings.largeFolderThresholdGB = 1.0;
    sized(QStringLiteral("Downloads/Ровно/a.bin"), GiB / 2);
    sized(QStringLiteral("Downloads/Ровно/b/c.bin"), GiB / 2);
    sized(QStringLiteral("Downloads/Почти/a.bin"), GiB - 1);
    sized(QStringLiteral("Desktop/Проект/big.bin"), 3 * GiB);
    sized(QStringLiteral("Desktop/loose.bin"), 3 * GiB);
    sized(QStringLiteral("Games/data.pak"), 2 * GiB);
    for (const char* skipped : {"Documents", "Movies", "Pictures", "Music", "Library", ".hidden", "node_modules"}) {
        sized(QLatin1String(skipped) + QStringLiteral("/huge.bin"), 50 * GiB);
    }
    // Inside a listed folder, excluded names still count nothing.
    sized(QStringLiteral("Games/node_modules/x.bin"), 50 * GiB);
    // Beyond the depth limit (6) nothing is counted.
    sized(QStringLiteral("Deep/1/2/3/4/5/6/too-deep.bin"), 5 * GiB);

    const ScanItemList rows = scan(ScanCategory::largeFolders);
    for (const ScanItem& row : rows) {
        QVERIFY(row.isDirectory && row.isSelected);
        QCOMPARE(row.category, ScanCategory::largeFolders);
    }
    // Discovery order: Desktop, Downloads, then home.
    QCOMPARE(describe(rows), (QStringList{QStringLiteral("Проект | Desktop"), QStringLiteral("Ровно | Downloads"),
                                          QStringLiteral("Games | ") + m_home->home().fileName()}));
    QCOMPARE(rows.at(1).size, GiB);
    QCOMPARE(rows.at(2).size, 2 * GiB);

    // Resource-saving mode walks less deep.
    sized(QStringLiteral("Mid/1/2/3/4/five.bin"), 2 * GiB);
    QVERIFY(find(scan(ScanCategory::largeFolders), QStringLiteral("Mid")));
    m_settings.lowPowerMode = true;
    QVERIFY(!find(scan(ScanCategory::largeFolders), QStringLiteral("Mid")));
}

void TestDiskScanner::archiveCandidates()
{
    const QDateTime now = m_clock->now();
    for (const char* name : {"Видео РЕЛИЗ", "Заказ_релиз_финал", "Свежий", "Старый"}) {
        const QString folder = QStringLiteral("Desktop/") + QString::fromUtf8(name);
        sized(folder + QStringLiteral("/a.bin"), 12 * GiB);
        m_home->makeDir(folder, now.addDays(QLatin1String(name) == QLatin1String("Старый") ? -70 : -1).addSecs(-60));
    }
    sized(QStringLiteral("Desktop/Маленький готово/a.bin"), 9 * GiB);
    sized(QStringLiteral("Desktop/file ГОТОВО.bin"), 20 * GiB);

    ScanItemList rows = scan(ScanCategory::archiveCandidates);
    QStringList found = describe(rows);
    found.sort();
    QCOMPARE(found, (QStringList{QStringLiteral("Видео РЕЛИЗ | ключевое слово в названии"),
                                 QStringLiteral("Заказ_релиз_финал | ключевое слово в названии"),
                                 QStringLiteral("Старый | не изменялась 70 дн.")}));
    QCOMPARE(find(rows, QStringLiteral("Старый"))->size, 12 * GiB);
}

void TestDiskScanner::downloadsInboxListsEveryLooseFile()
{
    const QDateTime now = m_clock->now();
    m_home->makeFile(QStringLiteral("Downloads/отчёт.pdf"), 5000, now.addDays(-3).addSecs(-100));
    m_home->makeFile(QStringLiteral("Downloads/empty.txt"), 0, now.addSecs(-2 * 3600 - 5));
    m_home->makeFile(QStringLiteral("Downloads/.hidden"), 10);
    m_home->makeDir(QStringLiteral("Downloads/folder"));
    const FilePath odd = m_home->makeFileNative(QByteArray("Downloads/\xff\xfe.bin"), 10);

    const ScanItemList rows = scan(ScanCategory::downloadsInbox);
    QCOMPARE(rows.size(), 3);
    const ScanItem* report = find(rows, QStringLiteral("отчёт.pdf"));
    QVERIFY(report && report->isSelected && !report->isDirectory);
    QCOMPARE(report->detail, QStringLiteral("3 дня назад"));
    QCOMPARE(find(rows, QStringLiteral("empty.txt"))->detail, QStringLiteral("2 часа назад"));
    QCOMPARE(find(rows, QStringLiteral("empty.txt"))->size, 0);
    // The exact bytes of the name reach the file; its text would not.
    QVERIFY(std::any_of(rows.cbegin(), rows.cend(), [&](const ScanItem& row) { return row.path == odd; }));
    QVERIFY(!QFile::exists(odd.toString()));
}

void TestDiskScanner::largeLooseFilesAndOldInstallers()
{
    const QDateTime now = m_clock->now();
    sized(QStringLiteral("Downloads/exact.zip"), 50 * MiB);
    sized(QStringLiteral("Downloads/less.zip"), 50 * MiB - 1);
    sized(QStringLiteral("Downloads/Установщик.DMG"), 2 * GiB, now.addDays(-31));
    sized(QStringLiteral("Downloads/fresh.dmg"), 2 * GiB, now.addDays(-29));
    sized(QStringLiteral("Downloads/tool.pkg"), 100, now.addDays(-400));
    sized(QStringLiteral("Downloads/notes.txt"), 100, now.addDays(-400));
    m_home->makeDir(QStringLiteral("Downloads/folder.dmg"), now.addDays(-400));

    QStringList found = describe(scan(ScanCategory::largeLooseFiles));
    found.sort();
    QCOMPARE(found, (QStringList{QStringLiteral("exact.zip | -"), QStringLiteral("fresh.dmg | -"),
                                 QStringLiteral("Установщик.DMG | -")}));
    const ScanItemList rows = scan(ScanCategory::oldInstallers);
    found = describe(rows);
    found.sort();
    QCOMPARE(found, (QStringList{QStringLiteral("tool.pkg | 400 дн. назад"), QStringLiteral("Установщик.DMG | 31 дн. назад")}));
    QCOMPARE(find(rows, QStringLiteral("Установщик.DMG"))->size, 2 * GiB);
}

void TestDiskScanner::plusVideosByName()
{
    m_home->makeFile(QStringLiteral("Movies/Наш ОТПУСК 2023.MP4"), 3000);
    m_home->makeFile(QStringLiteral("Movies/deep/1/2/3/4/5/отпуск-deep.mov"), 3000);
    m_home->makeFile(QStringLiteral("Movies/deep/1/2/3/4/5/6/отпуск-too-deep.mov"), 3000);
    m_home->makeFile(QStringLiteral("Desktop/отпуск.txt"), 3000);
    m_home->makeFile(QStringLiteral("Library/отпуск.mov"), 3000);
    m_home->makeFile(QStringLiteral(".hidden/отпуск.mov"), 3000);
    m_home->makeFile(QStringLiteral("Desktop/work.mov"), 3000);

    // No text: nothing found, and the disk is not even walked.
    const int opensBefore = m_fs->openCount();
    QVERIFY(scan(ScanCategory::plusVideos).isEmpty());
    QCOMPARE(m_fs->openCount(), opensBefore);

    m_settings.videoNamePrefix = QStringLiteral("  отпуск ");
    m_settings.plusVideoThresholdMB = 0.001;
    const ScanItemList rows = scan(ScanCategory::plusVideos);
    for (const ScanItem& row : rows) {
        QVERIFY(!row.isDirectory && row.isSelected);
    }
    QStringList found = describe(rows);
    found.sort();
    QCOMPARE(found, (QStringList{QStringLiteral("Наш ОТПУСК 2023.MP4 | содержит «отпуск»"),
                                 QStringLiteral("отпуск-deep.mov | содержит «отпуск»")}));

    // The threshold applies in this mode too.
    m_settings.plusVideoThresholdMB = 1;
    QVERIFY(scan(ScanCategory::plusVideos).isEmpty());

    // Resource-saving mode: four folders, five levels.
    m_settings.plusVideoThresholdMB = 0;
    m_settings.lowPowerMode = true;
    m_home->makeFile(QStringLiteral("Other/отпуск.mov"), 10);
    QCOMPARE(describe(scan(ScanCategory::plusVideos)), QStringList{QStringLiteral("Наш ОТПУСК 2023.MP4 | содержит «отпуск»")});
}

void TestDiskScanner::plusVideosByType()
{
    m_settings.videoSearchMode = VideoSearchMode::fileType;
    m_settings.plusVideoThresholdMB = 50;
    sized(QStringLiteral("Videos/a.MKV"), 50 * MiB);
    sized(QStringLiteral("Videos/b.webm"), 50 * MiB - 1);
    sized(QStringLiteral("Videos/c.mp3"), GiB);
    sized(QStringLiteral("Videos/no-extension"), GiB);
    const ScanItemList rows = scan(ScanCategory::plusVideos);
    QCOMPARE(describe(rows), QStringList{QStringLiteral("a.MKV | .mkv")});
    QCOMPARE(rows.first().size, 50 * MiB);
    QVERIFY(m_scanner->matchesVideoSearch(QStringLiteral("x.3gp"), FilePath("/x.3gp"), m_settings));
    QVERIFY(!m_scanner->matchesVideoSearch(QStringLiteral(".mp4"), FilePath("/.mp4"), m_settings));
}

void TestDiskScanner::appCaches()
{
    sized(QStringLiteral("Library/Application Support/Cursor/snapshots/a"), 10485760);
    sized(QStringLiteral("Library/Caches/ru.keepcoder.Telegram/media/b"), 20973824);
    sized(QStringLiteral("Library/Application Support/ONEME/c"), 20973825);
    // Depth 6 applies even below Library; node_modules stays excluded.
    sized(QStringLiteral("Library/Application Support/ONEME/node_modules/x"), GiB);

    const ScanItemList rows = scan(ScanCategory::appCaches);
    // Order of the fixed table: ONEME before Telegram; above the warning size the detail says so.
    QCOMPARE(describe(rows), (QStringList{QStringLiteral("ONEME | ONEME ⚠️ много места! — Настройки ONEME → очистить медиа-кэш"),
                                          QStringLiteral("ru.keepcoder.Telegram | Telegram — Telegram → Settings → Data → Clear cache")}));
    QVERIFY(!rows.last().isSelected && rows.last().isDirectory);
}

void TestDiskScanner::systemJunk()
{
    sized(QStringLiteral("Library/Logs/App/log.txt"), 6 * MiB);
    sized(QStringLiteral("Library/Caches/com.example.big/blob"), 6 * MiB);
    sized(QStringLiteral("Library/Caches/small/blob"), 5 * MiB);
    sized(QStringLiteral("Library/Caches/loose-file"), 50 * MiB);
    m_home->makeDir(QStringLiteral(".Trash"));
    const QStringList expected{QStringLiteral("Logs | Логи пользователя — очистка вручную или через macOS"),
                               QStringLiteral("com.example.big | Кэш «com.example.big» — безопасно удалять, приложение пересоздаст")};
    ScanItemList rows = scan(ScanCategory::systemJunk);
    QCOMPARE(describe(rows), expected);
    for (const ScanItem& row : rows) {
        QVERIFY(row.isDirectory && !row.isSelected);
    }
    // One byte in the Trash is enough for a row.
    sized(QStringLiteral(".Trash/old"), 1);
    rows = scan(ScanCategory::systemJunk);
    QCOMPARE(describe(rows), expected + QStringList{QStringLiteral(".Trash | Корзина — очистите через Finder или «Очистить корзину»")});
    QCOMPARE(rows.last().size, 1);
}

void TestDiskScanner::systemJunkFallsBackToWholeCaches()
{
    sized(QStringLiteral("Library/Caches/a/blob"), 3 * MiB);
    sized(QStringLiteral("Library/Caches/b/blob"), 3 * MiB);
    const ScanItemList rows = scan(ScanCategory::systemJunk);
    QCOMPARE(describe(rows), QStringList{QStringLiteral("Caches | Кэши пользователя — очистка вручную или через macOS")});
    QCOMPARE(rows.first().size, 6 * MiB);
    // An unlistable Caches folder gives no cache rows at all.
    m_fs->failOpen(QFile::encodeName(m_home->filePath(QStringLiteral("Library/Caches"))));
    QVERIFY(scan(ScanCategory::systemJunk).isEmpty());
}

void TestDiskScanner::progressReports()
{
    QList<ScanProgress> reports;
    m_scanner->scan(m_settings, {ScanCategory::systemJunk, ScanCategory::downloadsInbox},
                    [&](const ScanProgress& p) { reports.append(p); });
    QCOMPARE(reports.size(), 3);
    QCOMPARE(reports[0], (ScanProgress{true, QStringLiteral("Downloads (файлы в корне)"), 0, 0.0}));
    QCOMPARE(reports[1], (ScanProgress{true, QStringLiteral("Служебный мусор"), 0, 0.5}));
    QCOMPARE(reports[2], (ScanProgress{false, QStringLiteral("Готово"), 0, 1.0}));
}

void TestDiskScanner::missingFoldersGiveNothing()
{
    // A home with nothing in it: every rule returns nothing, none fails.
    m_settings.videoNamePrefix = QStringLiteral("x");
    for (ScanCategory category : ScanCategories::allCategories()) {
        QVERIFY2(scan(category).isEmpty(), qPrintable(ScanCategories::rawValue(category)));
    }
}

// A Russian desktop: the user folders named by user-dirs.dirs, caches of
// browsers and tools, a Trash, an X session log and the user's journal.
// Each row: a category and the names it finds (with the detail where the
// layout decides it).
void TestDiskScanner::freedesktopHome_data()
{
    QTest::addColumn<int>("categoryValue");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("large folders") << int(ScanCategory::largeFolders)
                                   << QStringList{QStringLiteral("Проект РЕЛИЗ | Рабочий стол"),
                                                  QStringLiteral("Игры | home")};
    QTest::newRow("archive candidates") << int(ScanCategory::archiveCandidates)
                                        << QStringList{QStringLiteral("Проект РЕЛИЗ | ключевое слово в названии")};
    QTest::newRow("downloads inbox") << int(ScanCategory::downloadsInbox)
                                     << QStringList{QStringLiteral("Большой фильм.mkv"), QStringLiteral("пакет.deb"),
                                                    QStringLiteral("свежий.AppImage")};
    QTest::newRow("videos") << int(ScanCategory::plusVideos)
                            << QStringList{QStringLiteral("Большой фильм.mkv"), QStringLiteral("Отпуск.mp4")};
    QTest::newRow("large loose files") << int(ScanCategory::largeLooseFiles)
                                       << QStringList{QStringLiteral("Большой фильм.mkv")};
    QTest::newRow("old installers") << int(ScanCategory::oldInstallers)
                                    << QStringList{QStringLiteral("пакет.deb | 60 дн. назад")};
    QTest::newRow("application caches")
        << int(ScanCategory::appCaches)
        << QStringList{QStringLiteral("google-chrome"), QStringLiteral("pip"), QStringLiteral("_cacache"),
                       QStringLiteral("cache")};
    QTest::newRow("service junk") << int(ScanCategory::systemJunk)
                                  << QStringList{QStringLiteral(".xsession-errors"), QStringLiteral("Trash"),
                                                 QStringLiteral("google-chrome"), QStringLiteral("pip"),
                                                 QStringLiteral("user-1000.journal")};
}

void TestDiskScanner::freedesktopHome()
{
    QFETCH(int, categoryValue);
    const ScanCategory category = ScanCategory(categoryValue);
    QFETCH(QStringList, expected);
    const QDateTime now = m_clock->now();
    m_home->makeDir(QStringLiteral(".config"));
    QVERIFY(writeAll(m_home->filePath(QStringLiteral(".config/user-dirs.dirs")),
                     "XDG_DESKTOP_DIR=\"$HOME/Рабочий стол\"\nXDG_DOWNLOAD_DIR=\"$HOME/Загрузки\"\n"
                     "XDG_DOCUMENTS_DIR=\"$HOME/Документы\"\nXDG_VIDEOS_DIR=\"$HOME/Видео\"\n"));
    sized(QStringLiteral(".cache/google-chrome/Default/Cache/data"), 300 * MiB);
    sized(QStringLiteral(".cache/pip/http/wheel"), 30 * MiB);
    sized(QStringLiteral(".cache/fontconfig/small"), MiB);
    sized(QStringLiteral(".npm/_cacache/content-v2/blob"), 40 * MiB);
    sized(QStringLiteral(".var/app/org.gimp.GIMP/cache/tiles"), 15 * MiB);
    sized(QStringLiteral("Загрузки/пакет.deb"), 2 * MiB, now.addDays(-60));
    sized(QStringLiteral("Загрузки/свежий.AppImage"), MiB, now.addDays(-2));
    sized(QStringLiteral("Загрузки/Большой фильм.mkv"), 60 * MiB);
    sized(QStringLiteral("Downloads/не та папка.deb"), MiB, now.addDays(-60));
    sized(QStringLiteral("Видео/Отпуск.mp4"), 60 * MiB);
    sized(QStringLiteral("Рабочий стол/Проект РЕЛИЗ/a.bin"), 12 * GiB);
    sized(QStringLiteral("Документы/архив.bin"), 50 * GiB);
    sized(QStringLiteral("Игры/data.pak"), 6 * GiB);
    sized(QStringLiteral(".local/share/Trash/files/удалённое.txt"), 1);
    sized(QStringLiteral(".local/share/Trash/info/удалённое.txt.trashinfo"), 1);
    sized(QStringLiteral(".xsession-errors"), 6 * MiB);
    sized(QStringLiteral("journal/0123abcd/user-1000.journal"), 4 * MiB);
    sized(QStringLiteral("journal/0123abcd/user-1000@0005-0006.journal"), 3 * MiB);
    sized(QStringLiteral("journal/0123abcd/user-1001.journal"), 50 * MiB);
    sized(QStringLiteral("journal/0123abcd/system.journal"), 50 * MiB);

    const HomeLayout layout = HomeLayout::freedesktop(m_home->home(), QProcessEnvironment(),
                                                      {m_home->nativePath("journal")}, 1000);
    const DiskScanner scanner(m_fs, layout, m_clock, nullptr, AppVideoTypes::extensions());
    m_settings.videoSearchMode = VideoSearchMode::fileType;
    const QString homeName = m_home->home().fileName();
    QStringList found;
    for (const ScanItem& row : scanner.scan(m_settings, {category}, {})) {
        QString detail = row.detail.value_or(QString());
        detail.replace(homeName, QStringLiteral("home"));
        const bool named = category == ScanCategory::largeFolders || category == ScanCategory::archiveCandidates
            || category == ScanCategory::oldInstallers;
        found.append(named ? row.name + QStringLiteral(" | ") + detail : row.name);
    }
    // Folder listings come in the kernel's order.
    if (category == ScanCategory::downloadsInbox || category == ScanCategory::plusVideos
        || category == ScanCategory::systemJunk) {
        found.sort();
    }
    QCOMPARE(found, expected);
}

void TestDiskScanner::disabledUserFoldersAreNotScanned()
{
    m_home->makeDir(QStringLiteral(".config"));
    QVERIFY(writeAll(m_home->filePath(QStringLiteral(".config/user-dirs.dirs")),
                     "XDG_DOWNLOAD_DIR=\"$HOME\"\nXDG_DESKTOP_DIR=\"$HOME/\"\n"));
    sized(QStringLiteral("Downloads/old.deb"), 60 * MiB, m_clock->now().addDays(-90));
    sized(QStringLiteral("Desktop/Проект РЕЛИЗ/a.bin"), 12 * GiB);
    sized(QStringLiteral("loose.deb"), 60 * MiB, m_clock->now().addDays(-90));
    const DiskScanner scanner(m_fs, HomeLayout::freedesktop(m_home->home(), QProcessEnvironment()), m_clock, nullptr,
                              AppVideoTypes::extensions());
    for (ScanCategory category : {ScanCategory::downloadsInbox, ScanCategory::largeLooseFiles,
                                  ScanCategory::oldInstallers, ScanCategory::archiveCandidates}) {
        QVERIFY2(scanner.scan(m_settings, {category}, {}).isEmpty(), qPrintable(ScanCategories::rawValue(category)));
    }
}

void TestDiskScanner::noVolumeListGivesNoDisks()
{
    auto source = std::make_shared<FakeVolumeSource>();
    QVERIFY(withVolumes(source).diskInfo().isEmpty());
    source->volumes = QList<VolumeFacts>{};
    QVERIFY(withVolumes(source).diskInfo().isEmpty());
    QVERIFY(withVolumes(nullptr).diskInfo().isEmpty());
}

void TestDiskScanner::usableVolumesFullestFirstWithNamesAndFreshIds()
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
    const DiskScanner scanner = withVolumes(source);
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

BRISKO_TEST(TestDiskScanner)
#include "tst_DiskScanner.moc"
